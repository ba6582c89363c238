"""The opt-in of velkan's package for ``import tiktoken`` without code changes.

velkan_as_tiktoken.pth imports this module only when the environment
variable VELKAN_AS_TIKTOKEN is set (to anything but "", "0", "false", "no"
or "off"); otherwise its one line reads os.environ and stops. install() puts
a finder first on sys.meta_path that, at the first ``import tiktoken`` (or
``tiktoken_ext``), calls ``velkan.install_as_tiktoken()``: a process that
never imports tiktoken never imports velkan either.
"""

import sys


class VelkanAsTiktoken:
    """Finds tiktoken and tiktoken_ext as velkan's modules."""

    @classmethod
    def find_spec(cls, fullname, path=None, target=None):
        if fullname not in ("tiktoken", "tiktoken_ext"):
            return None
        # Once is enough: the modules are in sys.modules from then on.
        try:
            sys.meta_path.remove(cls)
        except ValueError:
            pass
        import velkan

        velkan.install_as_tiktoken()
        return sys.modules[fullname].__spec__


def install():
    if VelkanAsTiktoken not in sys.meta_path:
        sys.meta_path.insert(0, VelkanAsTiktoken)
