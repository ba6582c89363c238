"""The module ``Encoding`` lived in before it moved to ``velkan.core``
(where tiktoken keeps it): code that imports from here, and pickles that
name ``velkan.encoding.Encoding``, keep working."""

from velkan._added_tokens import AllowedSpecial, DisallowedSpecial
from velkan.core import Encoding, raise_disallowed_special_token
from velkan.model import encoding_for_model, encoding_name_for_model
from velkan.registry import get_encoding, list_encoding_names

__all__ = [
    "AllowedSpecial",
    "DisallowedSpecial",
    "Encoding",
    "encoding_for_model",
    "encoding_name_for_model",
    "get_encoding",
    "list_encoding_names",
    "raise_disallowed_special_token",
]
