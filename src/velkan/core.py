"""``Encoding``, where tiktoken keeps it (``tiktoken.core``)."""

from velkan.encoding import Encoding, raise_disallowed_special_token

__all__ = ["Encoding", "raise_disallowed_special_token"]
