"""Model names to encodings, where tiktoken keeps them (``tiktoken.model``):
code that reads the tables or imports from this module runs unchanged."""

from velkan._encodings_data import MODEL_PREFIX_TO_ENCODING, MODEL_TO_ENCODING
from velkan.encoding import Encoding, encoding_for_model, encoding_name_for_model, get_encoding

__all__ = [
    "MODEL_PREFIX_TO_ENCODING",
    "MODEL_TO_ENCODING",
    "Encoding",
    "encoding_for_model",
    "encoding_name_for_model",
    "get_encoding",
]
