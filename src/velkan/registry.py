"""The encodings by name, where tiktoken keeps them (``tiktoken.registry``).

velkan's encodings are built in. ``ENCODINGS`` is the process's cache of
encodings made so far (the one ``get_encoding`` fills), and
``ENCODING_CONSTRUCTORS`` maps each name ``get_encoding`` knows to its
constructor: the built-in ones, and those of third-party ``tiktoken_ext``
plugins once a name that is not built in has been asked for (the plugins are
looked for then, not before).
"""

from __future__ import annotations

import importlib
import importlib.machinery
import threading
from typing import Any, Callable

from velkan import openai_public
from velkan._vocabulary import builtin_names
from velkan.core import Encoding, _encodings, _lock, builtin_encoding, unknown_encoding_message

ENCODINGS: dict[str, Encoding] = _encodings
ENCODING_CONSTRUCTORS: dict[str, Callable[[], dict[str, Any]]] = dict(
    openai_public.ENCODING_CONSTRUCTORS
)

_plugins_lock = threading.Lock()
_plugins_searched = False


def _available_plugin_modules() -> list[str]:
    """The third-party plugin modules found in the ``tiktoken_ext`` namespace
    (velkan's own encodings stand for ``tiktoken_ext.openai_public``)."""
    found = importlib.machinery.PathFinder.find_spec("tiktoken_ext")
    locations = found.submodule_search_locations if found is not None else None
    if not locations:
        return []
    import pkgutil

    return [
        "tiktoken_ext." + info.name
        for info in pkgutil.iter_modules(list(locations))
        if info.name != "openai_public"
    ]


def _find_constructors() -> None:
    """Adds the constructors of every plugin to ``ENCODING_CONSTRUCTORS``
    (once); a plugin may not redefine a name another one has."""
    global _plugins_searched
    with _plugins_lock:
        if _plugins_searched:
            return
        for module_name in _available_plugin_modules():
            module = importlib.import_module(module_name)
            try:
                constructors = module.ENCODING_CONSTRUCTORS
            except AttributeError as e:
                raise ValueError(
                    f"tiktoken plugin {module_name} does not define ENCODING_CONSTRUCTORS"
                ) from e
            for name, constructor in constructors.items():
                if name in ENCODING_CONSTRUCTORS and ENCODING_CONSTRUCTORS[name] is not constructor:
                    raise ValueError(
                        f"Duplicate encoding name {name} in tiktoken plugin {module_name}"
                    )
                ENCODING_CONSTRUCTORS[name] = constructor
        _plugins_searched = True


def _plugin_encoding(encoding_name: str) -> Encoding | None:
    # An encoding of a third-party plugin, made once; None when no plugin
    # has it.
    _find_constructors()
    constructor = ENCODING_CONSTRUCTORS.get(encoding_name)
    if constructor is None or encoding_name in openai_public.ENCODING_CONSTRUCTORS:
        return None
    return Encoding(**constructor())


def get_encoding(encoding_name: str) -> Encoding:
    """The encoding of that name (one object per name and process)."""
    # A subscript in a try costs less than .get (methods.py: 0.93x of
    # tiktoken's with .get); an unhashable name is refused as tiktoken does.
    try:
        return _encodings[encoding_name]
    except (KeyError, TypeError):
        pass
    if not isinstance(encoding_name, str):
        raise ValueError(f"Expected a string in get_encoding, got {type(encoding_name)}")
    if encoding_name in list_encoding_names():
        return builtin_encoding(encoding_name)
    # Third-party tiktoken_ext plugins, looked for only now.
    enc = _plugin_encoding(encoding_name)
    if enc is None:
        raise ValueError(unknown_encoding_message(encoding_name, _available_plugin_modules()))
    with _lock:
        return _encodings.setdefault(encoding_name, enc)


def list_encoding_names() -> list[str]:
    """The names of the built-in encodings this build has."""
    return builtin_names()


__all__ = ["ENCODINGS", "ENCODING_CONSTRUCTORS", "Encoding", "get_encoding", "list_encoding_names"]
