"""Construction's output is what images store, and images from any build
must load in any other: the bytes written for each vocabulary are pinned here
(taken from the first release, renewed with image format 2, which added the
byte order), so a change to construction or to a table's layout cannot slip
in with a speed-up."""

import hashlib

import pytest

from reference import VOCABULARIES

PINNED = {
    "cl100k_base": "2b34a8b1267c6ad208c3930f9fd8ef1c5bdadf09b6c60bd10d8aba21695c432a",
    "o200k_base": "db860a5df29ce94320d04f404f6039ca35f0c00ad20cc5004e1b5a6f8072fb11",
}


@pytest.mark.parametrize("name", VOCABULARIES)
def test_image_bytes_are_unchanged(name):
    from velkan.images import build_image

    assert hashlib.sha256(build_image(name)).hexdigest() == PINNED[name]
