"""What the command line's options take (encoding and model names, token
limits and budgets), what an encoding's ordinary text is encoded with (its
embedded vocabulary, its tokenizer, its id range), the exit statuses, and
the error a user can fix."""

from __future__ import annotations

import argparse
from typing import TYPE_CHECKING

from velkan._encodings_data import ENCODINGS as _ENCODING_FACTS
from velkan._encodings_data import SHORT_NAMES

if TYPE_CHECKING:
    from velkan.bpe.openai import Tokenizer

# Every encoding of OpenAI's; ordinary text only, so an encoding counts and
# encodes with the embedded vocabulary of its rank file (gpt2 and r50k_base
# share one, p50k_base and p50k_edit another).
ENCODINGS = tuple(_ENCODING_FACTS)
EXIT_OK, EXIT_ERROR, EXIT_USAGE, EXIT_OVER_LIMIT = 0, 1, 2, 3
LIMIT_MAX = 2**63 - 1


class InputError(Exception):
    """Bad input the user can fix: reported in one line, exit status 1."""


def encoding_name(value: str) -> str:
    """An encoding name or short name, as argparse type."""
    name = SHORT_NAMES.get(value, value)
    if name not in ENCODINGS:
        raise argparse.ArgumentTypeError(
            "unknown encoding %r (choose from %s)"
            % (value, ", ".join(list(ENCODINGS) + list(SHORT_NAMES)))
        )
    return name


def model_encoding(model: str) -> str:
    """The encoding of an OpenAI model name, as argparse type."""
    from velkan.model import encoding_name_for_model

    try:
        return encoding_name_for_model(model)
    except KeyError:
        raise argparse.ArgumentTypeError(
            "unknown model %r (e.g. gpt-4o, gpt-4.1, o3, gpt-4, gpt-3.5-turbo, "
            "text-davinci-003, gpt2); give the encoding with -e" % model
        ) from None


def vocabulary_size(vocabulary: str) -> int:
    """The size of a vocabulary's id range, gaps included."""
    import velkan.bpe.openai as openai

    return next(size for name, _image, size in openai._vocabularies() if name == vocabulary)


def vocabulary_gaps(vocabulary: str) -> set[int]:
    """Ids inside the range that name no ordinary token: ranks the rank file
    leaves to a special token (p50k_base's 50256)."""
    size = vocabulary_size(vocabulary)
    return {
        i
        for facts in _ENCODING_FACTS.values()
        if facts.rank_file == vocabulary
        for i in facts.special_tokens.values()
        if i < size
    }


def limit_value(text: str) -> int:
    """A token limit, as argparse type: 0 to 2**63 - 1."""
    try:
        value = int(text, 10)
    except ValueError:
        raise argparse.ArgumentTypeError("not a whole number: %r" % text) from None
    if value < 0:
        raise argparse.ArgumentTypeError("must not be negative: %d" % value)
    if value > LIMIT_MAX:
        raise argparse.ArgumentTypeError("too large: %d (at most 2**63 - 1)" % value)
    return value


def vocabulary_of(encoding: str) -> str:
    """The embedded vocabulary (rank file) an encoding's ordinary text uses."""
    return _ENCODING_FACTS[encoding].rank_file


def tokenizer(name: str) -> Tokenizer:
    import velkan.bpe.openai as openai

    tok: Tokenizer = getattr(openai, vocabulary_of(name))()
    return tok


def positive_tokens(text: str) -> int:
    """A token budget, as argparse type: at least 1."""
    value = limit_value(text)
    if value < 1:
        raise argparse.ArgumentTypeError("must be at least 1: %d" % value)
    return value
