"""Token ids as Apache Arrow arrays (pyarrow is optional)."""

from __future__ import annotations

import importlib
from collections.abc import Sequence
from typing import TYPE_CHECKING, Any, Protocol

if TYPE_CHECKING:
    from velkan._added_tokens import AllowedSpecial, DisallowedSpecial


class _Encodes(Protocol):
    def encode_batch_to_numpy(
        self,
        texts: Sequence[str],
        *,
        num_threads: int,
        allowed_special: AllowedSpecial,
        disallowed_special: DisallowedSpecial,
    ) -> tuple[Any, Any]: ...


def pyarrow() -> Any:
    """The pyarrow module, or an ImportError that says how to get it (imported
    by name: the package ships no type information)."""
    try:
        pa = importlib.import_module("pyarrow")
    except ImportError as e:
        raise ImportError(
            "Arrow output needs pyarrow: pip install 'velkan[arrow]' (or pip install pyarrow)"
        ) from e
    return pa


def list_array(ids: Any, offsets: Any) -> Any:
    """A ``large_list<uint32>`` array over a flat ``uint32`` id array and its
    ``int64`` offsets (numpy arrays or anything with the buffer protocol).
    The Arrow buffers are views of the inputs, which they keep alive: no copy."""
    pa = pyarrow()
    ids_buffer = pa.py_buffer(ids)
    offsets_buffer = pa.py_buffer(offsets)
    count = len(offsets) - 1
    if count < 0:
        raise ValueError("offsets must hold at least one value (0)")
    values = pa.Array.from_buffers(pa.uint32(), ids_buffer.size // 4, [None, ids_buffer])
    return pa.Array.from_buffers(
        pa.large_list(pa.uint32()), count, [None, offsets_buffer], children=[values]
    )


def encode_batch_to_arrow(
    enc: _Encodes,
    texts: Sequence[str],
    *,
    num_threads: int,
    allowed_special: AllowedSpecial,
    disallowed_special: DisallowedSpecial,
) -> Any:
    pa = pyarrow()  # before the work: a missing pyarrow should not cost an encode
    del pa
    ids, offsets = enc.encode_batch_to_numpy(
        texts,
        num_threads=num_threads,
        allowed_special=allowed_special,
        disallowed_special=disallowed_special,
    )
    return list_array(ids, offsets)
