"""The benchmark's texts are parity cases too: the committed corpora and the
generated adversarial texts (long single pieces, long whitespace runs)."""

import os
import sys

import pytest

from reference import VOCABULARIES, reference, tokenizer

sys.path.insert(
    0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "benchmarks")
)
import texts  # noqa: E402


@pytest.mark.parametrize("name", VOCABULARIES)
@pytest.mark.parametrize("kind", sorted(texts.ADVERSARIAL))
def test_adversarial_texts(name, kind):
    for size in (1, 37, 3000):
        text = texts.ADVERSARIAL[kind](size)
        assert tokenizer(name).encode(text) == reference(name).encode_ordinary(text), size


@pytest.mark.parametrize("name", VOCABULARIES)
def test_corpora(name):
    for label, text in texts.load_corpora().items():
        expected = reference(name).encode_ordinary(text)
        assert tokenizer(name).encode(text) == expected, label
        assert tokenizer(name).count(text) == len(expected), label
