"""velkan: exact, fast byte-pair encoding for OpenAI's cl100k_base and o200k_base.

The tokenizer lives in the extension module ``velkan.bpe``; get one with
``velkan.bpe.openai.cl100k_base()`` or ``velkan.bpe.openai.o200k_base()``.
"""

__version__ = "0.1.0"
