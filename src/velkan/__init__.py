"""velkan: exact, fast byte-pair encoding for OpenAI's encodings.

``import velkan as tiktoken`` runs tiktoken-style code: ``get_encoding``,
``encoding_for_model`` and ``Encoding`` have tiktoken's names and behaviour.
``velkan.install_as_tiktoken()`` (or ``VELKAN_AS_TIKTOKEN=1`` in the
environment) makes every later ``import tiktoken``, in any library, give velkan.
The native tokenizers live in the extension module ``velkan.bpe``
(``velkan.bpe.openai.cl100k_base()`` and friends).
"""

__version__ = "0.1.0"

# After the version: the extension's helpers import it. _pickling registers
# pickling of the native objects; core, load, model and registry are
# tiktoken's submodules, so that `tiktoken.model.MODEL_TO_ENCODING` and the
# like keep working after `import velkan as tiktoken`.
from velkan import (  # noqa: E402, F401
    _pickling,
    core,
    load,
    model,
    registry,
)
from velkan import bpe as bpe  # noqa: E402
from velkan._as_tiktoken import install_as_tiktoken  # noqa: E402
from velkan.encoding import (  # noqa: E402
    Encoding,
    encoding_for_model,
    encoding_name_for_model,
    get_encoding,
    list_encoding_names,
)
from velkan.load import load_tiktoken_bpe  # noqa: E402

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
