"""Precomputed images: files beside the package that spare building an encoding.

The first ``cl100k_base()`` / ``o200k_base()`` of a process looks for
"precomputed_cl100k.bin" / "precomputed_o200k.bin" in the package directory and
loads it instead of building the encoding from the embedded vocabulary. An
image that does not fit exactly is ignored, so a stale or damaged file can cost
time but never change a token id.
"""

import os
import struct
from typing import Dict, Iterable, Optional, Tuple

VOCABULARIES = {
    # name: (image file name, token count)
    "cl100k_base": ("precomputed_cl100k.bin", 100256),
    "o200k_base": ("precomputed_o200k.bin", 199998),
}


def package_dir() -> str:
    """The directory the module reads images from."""
    import velkan

    return os.path.dirname(os.path.abspath(velkan.__file__))


def token_list(name: str) -> Tuple[bytes, bytes]:
    """The embedded token list of a vocabulary as (token bytes, u32 starts)."""
    import velkan.bpe.openai as openai

    bpe = getattr(openai, name)().bpe()
    count = VOCABULARIES[name][1]
    tokens = [bpe.decode_tokens([i]) for i in range(count)]
    starts = [0]
    for t in tokens:
        starts.append(starts[-1] + len(t))
    return b"".join(tokens), struct.pack("<%dI" % len(starts), *starts)


def build_image(name: str) -> bytes:
    """The image of a vocabulary's encoding, as bytes."""
    from velkan._image_writer import build_image as build

    image: bytes = build(*token_list(name))
    return image


def write_images(directory: Optional[str] = None,
                 names: Optional[Iterable[str]] = None) -> Dict[str, int]:
    """Writes the images of the given vocabularies (default: both) into
    directory (default: the package directory), which is made if missing.
    Returns {path: size}."""
    directory = package_dir() if directory is None else directory
    os.makedirs(directory, exist_ok=True)
    written: Dict[str, int] = {}
    for name in names or sorted(VOCABULARIES):
        path = os.path.join(directory, VOCABULARIES[name][0])
        image = build_image(name)
        # Written whole under another name, then moved: a reader never sees
        # half a file.
        partial = path + ".partial"
        with open(partial, "wb") as f:
            f.write(image)
        os.replace(partial, path)
        written[path] = len(image)
    return written
