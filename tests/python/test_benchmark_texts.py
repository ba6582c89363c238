"""The benchmark's texts are parity cases too: the committed corpora, the
generated CSV table and the generated adversarial texts (long single pieces,
long whitespace runs)."""

import hashlib
import os
import sys

import pytest

from reference import ROOT, VOCABULARIES, reference, tokenizer

sys.path.insert(0, os.path.join(ROOT, "benchmarks"))
import texts  # noqa: E402


@pytest.mark.parametrize("name", VOCABULARIES)
@pytest.mark.parametrize("kind", sorted(texts.ADVERSARIAL))
def test_adversarial_texts(name, kind):
    for size in (1, 37, 3000):
        text = texts.ADVERSARIAL[kind](size)
        assert tokenizer(name).encode(text) == reference(name).encode_ordinary(text), size


@pytest.mark.parametrize("name", VOCABULARIES)
def test_corpora(name):
    for label, text in texts.load_corpora(texts.ALL_CORPORA).items():
        expected = reference(name).encode_ordinary(text)
        assert tokenizer(name).encode(text) == expected, label
        assert tokenizer(name).count(text) == len(expected), label


def test_generated_rows_are_the_same_everywhere():
    # A row's figures are compared across runs, machines and Python
    # versions: the generated CSV table and the long text must not change.
    # (A deliberate change of the generator updates these hashes.)
    table = texts.csv_table(texts.CSV_BYTES)
    assert hashlib.sha256(table.encode()).hexdigest()[:16] == "861c6e0c829d18b3"
    assert 0.99 * texts.CSV_BYTES < len(table.encode("utf-8")) <= texts.CSV_BYTES
    assert table.endswith("\n") and len({line.count(",") for line in table.splitlines()}) <= 3
    long_text = texts.long_text(4_000_000)
    assert len(long_text.encode("utf-8")) == 4_000_000
    assert long_text.startswith(texts.load_corpora(("english",))["english"])
    assert hashlib.sha256(long_text.encode()).hexdigest()[:16] == "f6534a4a5ab9bcec"
