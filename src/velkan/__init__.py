"""velkan: exact, fast byte-pair encoding for OpenAI's encodings.

``import velkan as tiktoken`` runs tiktoken-style code: ``get_encoding``,
``encoding_for_model`` and ``Encoding`` have tiktoken's names and behaviour.
``velkan.install_as_tiktoken()`` (or ``VELKAN_AS_TIKTOKEN=1`` in the
environment) makes every later ``import tiktoken``, in any library, give velkan.
The native tokenizers live in the extension module ``velkan.bpe``
(``velkan.bpe.openai.cl100k_base()`` and friends).
"""

# _pickling registers pickling of the native objects; images hands the
# extension the functions that find and write images, _budget the class
# Tokenizer.decoder() makes; core, load, model and
# registry are tiktoken's submodules, so that `tiktoken.model.MODEL_TO_ENCODING`
# and the like keep working after `import velkan as tiktoken`; encoding is
# where Encoding lived before.
from velkan import (  # noqa: F401
    _budget,
    _pickling,
    core,
    encoding,
    images,
    load,
    model,
    registry,
)
from velkan import bpe as bpe
from velkan._as_tiktoken import install_as_tiktoken
from velkan._version import __version__
from velkan.core import Encoding
from velkan.load import load_tiktoken_bpe
from velkan.model import encoding_for_model, encoding_name_for_model
from velkan.registry import get_encoding, list_encoding_names

__all__ = [
    "__version__",
    "bpe",
    "Encoding",
    "encoding_for_model",
    "encoding_name_for_model",
    "get_encoding",
    "install_as_tiktoken",
    "list_encoding_names",
    "load_tiktoken_bpe",
]
