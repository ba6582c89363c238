"""velkan: exact, fast byte-pair encoding for OpenAI's cl100k_base and o200k_base.

The tokenizer lives in the extension module ``velkan.bpe``; get one with
``velkan.bpe.openai.cl100k_base()`` or ``velkan.bpe.openai.o200k_base()``.
"""

__version__ = "0.1.0"

# After the version: the extension's helpers import it.
from velkan import bpe as bpe  # noqa: E402

__all__ = ["__version__", "bpe"]
