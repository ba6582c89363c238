"""Model names to encodings, where tiktoken keeps them (``tiktoken.model``):
code that reads the tables or imports from this module runs unchanged."""

from velkan._encodings_data import MODEL_PREFIX_TO_ENCODING, MODEL_TO_ENCODING
from velkan.core import Encoding
from velkan.registry import get_encoding

# Read on every encoding_for_model call: bound once, not looked up per call.
_MODEL_TO_ENCODING = MODEL_TO_ENCODING
_MODEL_PREFIX_TO_ENCODING = MODEL_PREFIX_TO_ENCODING


def encoding_name_for_model(model_name: str) -> str:
    """The name of the encoding a model uses; ``KeyError`` for an unknown model."""
    name = _MODEL_TO_ENCODING.get(model_name)
    if name is not None:
        return name
    for prefix, name in _MODEL_PREFIX_TO_ENCODING.items():
        if model_name.startswith(prefix):
            return name
    raise KeyError(
        f"Could not automatically map {model_name} to a tokeniser. "
        "Please use `tiktoken.get_encoding` to explicitly get the tokeniser you expect."
    ) from None


def encoding_for_model(model_name: str) -> Encoding:
    """The encoding a model uses; ``KeyError`` for an unknown model."""
    return get_encoding(encoding_name_for_model(model_name))


__all__ = [
    "MODEL_PREFIX_TO_ENCODING",
    "MODEL_TO_ENCODING",
    "Encoding",
    "encoding_for_model",
    "encoding_name_for_model",
    "get_encoding",
]
