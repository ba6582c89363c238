"""Construction's output is what images store, and images from any build
must load in any other: the bytes written for each vocabulary are pinned here
(taken from the first release), so a change to construction or to a table's
layout cannot slip in with a speed-up."""

import hashlib

import pytest

from reference import VOCABULARIES

PINNED = {
    "cl100k_base": "ed2b1f91bd51b3fe68a34470bef9f45ad9cced6cc2010dd95892a632d8ad5dee",
    "o200k_base": "12aa17b4ee8ecf92984b98c5f530e4b3bd1e85b207e07bbc917510fc94c6267b",
}


@pytest.mark.parametrize("name", VOCABULARIES)
def test_image_bytes_are_unchanged(name):
    from velkan.images import build_image

    assert hashlib.sha256(build_image(name)).hexdigest() == PINNED[name]
