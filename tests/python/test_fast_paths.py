"""Texts at the edges of the encoding fast paths: ASCII words that run on
into non-ASCII letters or marks or end in contractions (the splitters' ASCII
word path), and pieces that are, or are not quite, a token by themselves (the
driver's whole-piece test)."""

import pytest

from reference import VOCABULARIES, reference, tokenizer

EDGES = [
    "Hello\u0301 w\u00f6rld ABC\u00e9 abc\u00c9 x\u02b0y \u01c5ab",  # word runs on past ASCII
    "HELLO's WORLD'S they're 'hello 'S I'M \u017f 's'",  # contractions, apostrophe prefixes
    "camelCaseWord XMLHttpRequest iPhone ALLCAPS a b C",  # o200k's case classes
    "\tword\nword\r\nword -word _word .word 1word word1",  # prefix characters and neighbours
    " the the  the\u00a0the\u3000the",  # single-token pieces after odd spaces
    " indivisibilities antidisestablishmentarianism",  # pieces that need the encoder
]


@pytest.mark.parametrize("name", VOCABULARIES)
@pytest.mark.parametrize("text", EDGES)
def test_fast_path_edges(name, text):
    tok, ref = tokenizer(name), reference(name)
    for cut in range(len(text) + 1):  # every prefix ends a run somewhere new
        assert tok.encode(text[:cut]) == ref.encode_ordinary(text[:cut]), text[:cut]
