"""velkan under tiktoken's module names, for libraries that import tiktoken
themselves (the convention of ``pymysql.install_as_MySQLdb()``).

``install_as_tiktoken()`` puts into ``sys.modules``:

- ``tiktoken``: a module with tiktoken's public names, velkan's objects
  (``get_encoding``, ``encoding_for_model``, ``encoding_name_for_model``,
  ``list_encoding_names``, ``Encoding``, the submodules below);
- ``tiktoken.core``, ``tiktoken.load``, ``tiktoken.model``,
  ``tiktoken.registry``: velkan's modules of those names;
- ``tiktoken_ext`` (a namespace over any ``tiktoken_ext`` folders on
  ``sys.path``, so that third-party plugins are still found) and
  ``tiktoken_ext.openai_public``: velkan's ``openai_public``.

Every later ``import tiktoken`` then gets velkan, whether tiktoken is
installed or not. The ``_velkan_as_tiktoken`` hook that the package
installs does the same at the first ``import tiktoken`` when the
environment variable ``VELKAN_AS_TIKTOKEN`` is set to 1.
"""

from __future__ import annotations

import importlib.machinery
import os
import sys
import threading
import types
from typing import TYPE_CHECKING, Any

# The tiktoken release whose public surface the facade reproduces; what
# ``tiktoken.__version__`` says, for code that checks it.
TIKTOKEN_VERSION = "0.14.0"

# Reentrant: the finder below calls install_as_tiktoken() from an import.
_lock = threading.RLock()


# importlib.abc would cost `import velkan` a tenth of its time; the import
# system needs only the loader's two methods, the type checker its base.
if TYPE_CHECKING:
    from importlib.abc import Loader as _LoaderBase
else:
    _LoaderBase = object


class _Loader(_LoaderBase):
    """The loader of the modules registered here: they are made already, so
    importing (or reloading) one leaves it as it is."""

    def create_module(self, module_spec: importlib.machinery.ModuleSpec) -> types.ModuleType:
        return sys.modules[module_spec.name]

    def exec_module(self, module: types.ModuleType) -> None:
        pass


class _Finder:
    """First on sys.meta_path once installed: ``tiktoken`` and
    ``tiktoken_ext`` are found as velkan's, so that ``importlib.reload`` (which
    looks the module up again) keeps them, and removing them from
    sys.modules brings them back rather than tiktoken."""

    @staticmethod
    def find_spec(fullname: str, path: Any = None, target: Any = None) -> Any:
        if fullname not in ("tiktoken", "tiktoken_ext"):
            return None
        module = sys.modules.get(fullname)
        if module is None or _is_ours(module):
            install_as_tiktoken()
            return sys.modules[fullname].__spec__
        return None


def _is_ours(module: Any) -> bool:
    return getattr(module, "__velkan_as_tiktoken__", False) is True


def _facade() -> types.ModuleType:
    # The package's modules, not the package: it imports this one.
    from velkan import _version, core, load, model, registry

    package_file = os.path.join(os.path.dirname(os.path.abspath(__file__)), "__init__.py")
    module = types.ModuleType("tiktoken", "velkan, installed under tiktoken's name.")
    module.__spec__ = importlib.machinery.ModuleSpec(
        "tiktoken", _Loader(), origin=package_file, is_package=True
    )
    module.__loader__ = module.__spec__.loader
    module.__file__ = package_file
    # A package: its submodules are the ones registered below, no others.
    module.__path__ = []
    module.__package__ = "tiktoken"
    names = {
        "Encoding": core.Encoding,
        "encoding_for_model": model.encoding_for_model,
        "encoding_name_for_model": model.encoding_name_for_model,
        "get_encoding": registry.get_encoding,
        "list_encoding_names": registry.list_encoding_names,
        "core": core,
        "load": load,
        "model": model,
        "registry": registry,
        "__version__": TIKTOKEN_VERSION,
        "__velkan_version__": _version.__version__,
        "__velkan_as_tiktoken__": True,
        "__all__": [
            "get_encoding",
            "encoding_for_model",
            "list_encoding_names",
            "encoding_name_for_model",
            "Encoding",
        ],
    }
    module.__dict__.update(names)
    return module


def _ext_namespace(openai_public: types.ModuleType) -> types.ModuleType:
    # Over the tiktoken_ext folders on sys.path, so that third-party plugins
    # import as before; velkan's openai_public stands for tiktoken's.
    found = importlib.machinery.PathFinder.find_spec("tiktoken_ext")
    locations = list(found.submodule_search_locations or []) if found is not None else []
    module = types.ModuleType("tiktoken_ext")
    module.__spec__ = importlib.machinery.ModuleSpec("tiktoken_ext", _Loader(), is_package=True)
    module.__spec__.submodule_search_locations = locations
    module.__loader__ = module.__spec__.loader
    module.__path__ = locations
    module.__package__ = "tiktoken_ext"
    module.__velkan_as_tiktoken__ = True  # type: ignore[attr-defined]
    module.openai_public = openai_public  # type: ignore[attr-defined]
    return module


def install_as_tiktoken() -> None:
    """Makes every later ``import tiktoken`` (and ``tiktoken.core``,
    ``.load``, ``.model``, ``.registry``, ``tiktoken_ext.openai_public``) give
    velkan, in this process.

    Call it before anything imports tiktoken. Raises ``RuntimeError`` when a
    different ``tiktoken`` (or one of those modules) is imported already, and
    registers nothing then; calling it again is harmless.

    Limits: tiktoken's private extension (``tiktoken._tiktoken``, its
    ``CoreBPE``) and ``tiktoken._educational`` are not provided; the
    distribution metadata is not (``importlib.metadata.version("tiktoken")``
    still describes an installed tiktoken, or raises when there is none);
    ``tiktoken.__version__`` is the tiktoken release whose interface velkan
    reproduces (``tiktoken.__velkan_version__`` is velkan's); rank files are
    read from local paths or tiktoken's cache only, never downloaded.
    """
    with _lock:
        facade = sys.modules.get("tiktoken")
        ext = sys.modules.get("tiktoken_ext")
        if facade is not None and _is_ours(facade) and ext is not None and _is_ours(ext):
            return
        from velkan import core, load, model, openai_public, registry

        ours: dict[str, Any] = {
            "tiktoken.core": core,
            "tiktoken.load": load,
            "tiktoken.model": model,
            "tiktoken.registry": registry,
            "tiktoken_ext.openai_public": openai_public,
        }
        clashes = [
            name
            for name in ["tiktoken", *ours]
            if sys.modules.get(name) is not None
            and sys.modules[name] is not ours.get(name)
            and not _is_ours(sys.modules[name])
        ]
        # A namespace package imported already (a plugin search) holds no
        # tiktoken code: velkan's openai_public joins it.
        ext_is_namespace = ext is not None and getattr(ext, "__file__", None) is None
        if ext is not None and not ext_is_namespace and not _is_ours(ext):
            clashes.append("tiktoken_ext")
        if clashes:
            where = getattr(sys.modules[clashes[0]], "__file__", None) or "?"
            raise RuntimeError(
                "velkan.install_as_tiktoken(): a different tiktoken is imported already "
                "(%s from %s; modules: %s), and code that imported it would keep it. Call "
                "install_as_tiktoken() before anything imports tiktoken (first thing in "
                "the program), or set VELKAN_AS_TIKTOKEN=1 in the environment."
                % (clashes[0], where, ", ".join(clashes))
            )
        if ext is None:
            ext = _ext_namespace(openai_public)
        else:
            ext.openai_public = openai_public  # type: ignore[attr-defined]
            ext.__velkan_as_tiktoken__ = True  # type: ignore[attr-defined]
        ours["tiktoken_ext"] = ext
        ours["tiktoken"] = facade if facade is not None else _facade()
        # The facade last: a thread that sees it sees the submodules too.
        for name, module in ours.items():
            if name != "tiktoken":
                sys.modules[name] = module
        sys.modules["tiktoken"] = ours["tiktoken"]
        if _Finder not in sys.meta_path:
            sys.meta_path.insert(0, _Finder)
