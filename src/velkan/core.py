"""``Encoding``, where tiktoken keeps it (``tiktoken.core``)."""

from velkan.encoding import Encoding

__all__ = ["Encoding"]
