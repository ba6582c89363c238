"""OpenAI's encodings as constructors, where tiktoken's plugin keeps them
(``tiktoken_ext.openai_public``): each returns the keyword arguments of
``Encoding`` for its encoding, with the ranks of the built-in vocabulary (no
file is read and nothing is downloaded). ``ENCODING_CONSTRUCTORS`` maps names
to them, as tools that bundle tiktoken's plugins look for."""

from __future__ import annotations

from typing import Any, Callable

from velkan import _encodings_data
from velkan._encodings_data import (
    ENDOFPROMPT,
    ENDOFTEXT,
    FIM_MIDDLE,
    FIM_PREFIX,
    FIM_SUFFIX,
    R50K_PAT_STR,
)
from velkan._vocabulary import Vocabulary, builtin_names
from velkan.load import data_gym_to_mergeable_bpe_ranks, load_tiktoken_bpe

r50k_pat_str = R50K_PAT_STR


def _constructor(name: str) -> Callable[[], dict[str, Any]]:
    def construct() -> dict[str, Any]:
        facts = _encodings_data.ENCODINGS[name]
        args: dict[str, Any] = {"name": name}
        if facts.explicit_n_vocab is not None:
            args["explicit_n_vocab"] = facts.explicit_n_vocab
        args["pat_str"] = facts.pat_str
        # A copy: the caller may change it.
        args["mergeable_ranks"] = Vocabulary.builtin(facts.rank_file).mergeable_ranks()
        args["special_tokens"] = dict(facts.special_tokens)
        return args

    construct.__name__ = construct.__qualname__ = name
    construct.__doc__ = "The keyword arguments of Encoding for %s." % name
    return construct


gpt2 = _constructor("gpt2")
r50k_base = _constructor("r50k_base")
p50k_base = _constructor("p50k_base")
p50k_edit = _constructor("p50k_edit")
cl100k_base = _constructor("cl100k_base")
o200k_base = _constructor("o200k_base")
o200k_harmony = _constructor("o200k_harmony")


def _available() -> dict[str, Callable[[], dict[str, Any]]]:
    every = {
        "gpt2": gpt2,
        "r50k_base": r50k_base,
        "p50k_base": p50k_base,
        "p50k_edit": p50k_edit,
        "cl100k_base": cl100k_base,
        "o200k_base": o200k_base,
        "o200k_harmony": o200k_harmony,
    }
    # Only what this build embeds.
    return {name: every[name] for name in builtin_names() if name in every}


ENCODING_CONSTRUCTORS: dict[str, Callable[[], dict[str, Any]]] = _available()

__all__ = [
    "ENCODING_CONSTRUCTORS",
    "ENDOFPROMPT",
    "ENDOFTEXT",
    "FIM_MIDDLE",
    "FIM_PREFIX",
    "FIM_SUFFIX",
    "cl100k_base",
    "data_gym_to_mergeable_bpe_ranks",
    "gpt2",
    "load_tiktoken_bpe",
    "o200k_base",
    "o200k_harmony",
    "p50k_base",
    "p50k_edit",
    "r50k_base",
    "r50k_pat_str",
]
