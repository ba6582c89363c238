"""The encodings by name, where tiktoken keeps them (``tiktoken.registry``).
velkan's encodings are built in: there are no plugins to find."""

from velkan.encoding import Encoding, get_encoding, list_encoding_names

__all__ = ["Encoding", "get_encoding", "list_encoding_names"]
