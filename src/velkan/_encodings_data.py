"""Facts about the vocabularies velkan embeds and OpenAI's encodings, as
tiktoken 0.14 defines them: the one table of each kind of fact.

VOCABULARIES lists the embedded vocabularies (rank file, SHA-256, short name,
rule set, image): the build's generator (src/vocab/gen_vocab.py) reads this
file and writes the native registry, and the package's short names and the
per-vocabulary lines of velkan/bpe/openai.pyi come from it too. ENCODINGS
lists each encoding's vocabulary, pre-split pattern, special tokens and
vocabulary size; then the model-name tables, and the spellings of the
pre-split patterns that velkan's hand-written rule sets reproduce exactly.
Everything else iterates these tables. tests/python/test_encodings_data.py compares
them with an installed tiktoken, so that a drift is caught.

This module imports nothing of velkan's: the generator runs it before
anything is built.
"""

from typing import NamedTuple, Optional

ENDOFTEXT = "<|endoftext|>"
FIM_PREFIX = "<|fim_prefix|>"
FIM_MIDDLE = "<|fim_middle|>"
FIM_SUFFIX = "<|fim_suffix|>"
ENDOFPROMPT = "<|endofprompt|>"

# tiktoken's current spellings of the three pre-split patterns.
R50K_PAT_STR = (
    r"""'(?:[sdmt]|ll|ve|re)| ?\p{L}++| ?\p{N}++| ?[^\s\p{L}\p{N}]++|\s++$|\s+(?!\S)|\s"""
)
CL100K_PAT_STR = (
    r"""'(?i:[sdmt]|ll|ve|re)|[^\r\n\p{L}\p{N}]?+\p{L}++|\p{N}{1,3}+| ?[^\s\p{L}\p{N}]++[\r\n]*+"""
    r"""|\s++$|\s*[\r\n]|\s+(?!\S)|\s"""
)
O200K_PAT_STR = "|".join(
    [
        r"""[^\r\n\p{L}\p{N}]?[\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}]*[\p{Ll}\p{Lm}\p{Lo}\p{M}]+(?i:'s|'t|'re|'ve|'m|'ll|'d)?""",
        r"""[^\r\n\p{L}\p{N}]?[\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}]+[\p{Ll}\p{Lm}\p{Lo}\p{M}]*(?i:'s|'t|'re|'ve|'m|'ll|'d)?""",
        r"""\p{N}{1,3}""",
        r""" ?[^\s\p{L}\p{N}]+[\r\n/]*""",
        r"""\s*[\r\n]+""",
        r"""\s+(?!\S)""",
        r"""\s+""",
    ]
)

# The pattern of GPT-2's own release, which tiktoken used for gpt2, r50k_base
# and the p50k encodings before the spelling above. Both cut every text alike.
GPT2_PAT_STR = r"""'s|'t|'re|'ve|'m|'ll|'d| ?\p{L}+| ?\p{N}+| ?[^\s\p{L}\p{N}]+|\s+(?!\S)|\s+"""

# cl100k_base's pattern as tiktoken spelt it before 0.7 and as Llama 3's
# tiktoken-format tokenizer still does. NOT equivalent to CL100K_PAT_STR: it
# has no `\s++$`, so whitespace that holds a line break and runs to the end of
# the text is cut after the last line break ("x\n  " gives "x", "\n", "  "),
# where CL100K_PAT_STR keeps it whole ("x", "\n  "). Its own rule set,
# "cl100k_legacy", is cl100k's with the line-break rule tried first.
CL100K_OLD_PAT_STR = (
    r"""(?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?\p{L}+|\p{N}{1,3}| ?[^\s\p{L}\p{N}]+[\r\n]*"""
    r"""|\s*[\r\n]+|\s+(?!\S)|\s+"""
)

# Qwen's pattern (Qwen, Qwen2, Qwen2.5, Qwen3 in tiktoken format):
# CL100K_OLD_PAT_STR with single numbers, `\p{N}` for `\p{N}{1,3}`.
QWEN2_PAT_STR = (
    r"""(?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?\p{L}+|\p{N}| ?[^\s\p{L}\p{N}]+[\r\n]*"""
    r"""|\s*[\r\n]+|\s+(?!\S)|\s+"""
)

# Mistral's Tekken pattern (tekken.json): O200K_PAT_STR without the
# contractions after a word and with single numbers.
TEKKEN_PAT_STR = "|".join(
    [
        r"""[^\r\n\p{L}\p{N}]?[\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}]*[\p{Ll}\p{Lm}\p{Lo}\p{M}]+""",
        r"""[^\r\n\p{L}\p{N}]?[\p{Lu}\p{Lt}\p{Lm}\p{Lo}\p{M}]+[\p{Ll}\p{Lm}\p{Lo}\p{M}]*""",
        r"""\p{N}""",
        r""" ?[^\s\p{L}\p{N}]+[\r\n/]*""",
        r"""\s*[\r\n]+""",
        r"""\s+(?!\S)""",
        r"""\s+""",
    ]
)

# The names of the native rule sets, each spelt once: here. The native
# registry and the binding's name table are generated from this tuple (the
# enumerator of "cl100k_legacy" is RuleSet::kCl100kLegacy in
# src/presplit/rule_set.h), in this order, which is the order error messages
# list them in. "whole" pre-splits nothing: a text is one piece.
RULE_SETS = ("r50k", "cl100k", "cl100k_legacy", "o200k", "qwen2", "tekken", "whole")

# Every spelling that one of the hand-written rule sets reproduces exactly:
# pattern -> rule set (a name of RULE_SETS). A custom encoding whose pat_str
# is one of these is split natively; any other pattern is not.
PATTERN_RULE_SETS: dict[str, str] = {
    R50K_PAT_STR: "r50k",
    GPT2_PAT_STR: "r50k",
    CL100K_PAT_STR: "cl100k",
    O200K_PAT_STR: "o200k",
    CL100K_OLD_PAT_STR: "cl100k_legacy",
    QWEN2_PAT_STR: "qwen2",
    TEKKEN_PAT_STR: "tekken",
}


class VocabularyFacts(NamedTuple):
    """One vocabulary the build embeds (src/vocab/data/ holds its rank file)."""

    name: str  # "cl100k_base": its rank file's stem, velkan.bpe.openai.cl100k_base()
    short: str  # "cl100k": is_cached_cl100k(), the CLI's -e cl100k, the C++ symbols
    rank_sha256: str  # the published SHA-256 of its whole rank file, "<name>.tiktoken"
    rule_set: str  # the rule set its Tokenizer splits with (a name of RULE_SETS)
    # BLAKE3-256 of the precomputed image construction writes for it
    # (tests/native/image_test.cc and vocab_gap_test.cc print the new value when
    # construction changes).
    image_digest: str
    # The vocabulary whose rank file starts this one's: then data/ holds only
    # the lines after the base's, in "<name>.extra.tiktoken", and the module
    # embeds the shared ranks once.
    base: Optional[str] = None

    @property
    def data_file(self) -> str:
        """Its file in src/vocab/data/."""
        return self.name + (".extra.tiktoken" if self.base else ".tiktoken")

    @property
    def image_file(self) -> str:
        """Its precomputed image's file name (beside the package, in the cache)."""
        return "precomputed_%s.bin" % self.short


# In the native registry's order; a vocabulary's index there is its number in
# the encoding cache. Adding one: HACKING.md, "A new vocabulary".
VOCABULARIES: dict[str, VocabularyFacts] = {
    v.name: v
    for v in [
        VocabularyFacts(
            name="r50k_base",
            short="r50k",
            rank_sha256="306cd27f03c1a714eca7108e03d66b7dc042abe8c258b44c199a7ed9838dd930",
            rule_set="r50k",
            image_digest="43da17edd1e2f3104cce40d8c601f86faef1904e2c43e8647e782d1426a4d07a",
        ),
        VocabularyFacts(
            name="p50k_base",
            short="p50k",
            rank_sha256="94b5ca7dff4d00767bc256fdd1b27e5b17361d7b8a5f968547f9f23eb70d2069",
            rule_set="r50k",
            image_digest="9234dcfc270f0f6b911dfb6b79f19d3e413774440fbb367d0cf57136c4a01b0f",
            base="r50k_base",
        ),
        VocabularyFacts(
            name="cl100k_base",
            short="cl100k",
            rank_sha256="223921b76ee99bde995b7ff738513eef100fb51d18c93597a113bcffe865b2a7",
            rule_set="cl100k",
            image_digest="a700f3e7cbbc9a5f347430696402aec6815545093090a8f02310d179407cfb97",
        ),
        VocabularyFacts(
            name="o200k_base",
            short="o200k",
            rank_sha256="446a9538cb6c348e3516120d7c08b09f57c36495e2acfffe59a5bf8b0cfb1a2d",
            rule_set="o200k",
            image_digest="681a39c57106533fe9feaa5950c10ebfb21e8bea5b1d07c79f0ba26b73e825e3",
        ),
    ]
}

# The command line's short names of encodings: a vocabulary's short name
# stands for the encoding of its name.
SHORT_NAMES: dict[str, str] = {v.short: v.name for v in VOCABULARIES.values()}


class EncodingFacts(NamedTuple):
    """What defines one of OpenAI's encodings."""

    name: str
    rank_file: str  # stem of its "<stem>.tiktoken" rank file, shared by some encodings
    rank_file_sha256: str  # the published SHA-256 of that file
    pat_str: str  # tiktoken's pre-split pattern, as tiktoken spells it
    rule_set: str  # the hand-written rule set that reproduces pat_str
    special_tokens: dict[str, int]  # in tiktoken's order
    explicit_n_vocab: Optional[int]  # tiktoken's check of the vocabulary size, if any


def _encoding(
    name: str,
    rank_file: str,
    pat_str: str,
    special_tokens: dict[str, int],
    explicit_n_vocab: Optional[int] = None,
) -> EncodingFacts:
    # The SHA-256 is the vocabulary's, the rule set the pattern's: each is
    # written once, in VOCABULARIES and PATTERN_RULE_SETS.
    return EncodingFacts(
        name,
        rank_file,
        VOCABULARIES[rank_file].rank_sha256,
        pat_str,
        PATTERN_RULE_SETS[pat_str],
        special_tokens,
        explicit_n_vocab,
    )


def _harmony_special_tokens() -> dict[str, int]:
    # As tiktoken builds it: o200k_base's specials, then the named ones, then
    # reserved ones up to 201087. 200018 is reached twice, by
    # "<|endofprompt|>" and "<|reserved_200018|>": two texts, one id (see
    # SHARED_ID_TEXTS for how it decodes).
    tokens = {ENDOFTEXT: 199999, ENDOFPROMPT: 200018}
    tokens.update(
        {
            "<|startoftext|>": 199998,
            ENDOFTEXT: 199999,
            "<|reserved_200000|>": 200000,
            "<|reserved_200001|>": 200001,
            "<|return|>": 200002,
            "<|constrain|>": 200003,
            "<|reserved_200004|>": 200004,
            "<|channel|>": 200005,
            "<|start|>": 200006,
            "<|end|>": 200007,
            "<|message|>": 200008,
            "<|reserved_200009|>": 200009,
            "<|reserved_200010|>": 200010,
            "<|reserved_200011|>": 200011,
            "<|call|>": 200012,
        }
    )
    tokens.update({"<|reserved_%d|>" % i: i for i in range(200013, 201088)})
    return tokens


# The text an id decodes to where two special tokens share it. tiktoken's
# native decoder keeps whichever its hash map yields last, which is neither
# the first nor the later of the table, so the answer is recorded per
# encoding; tests/python/test_encodings_data.py checks it against tiktoken.
SHARED_ID_TEXTS: dict[str, dict[int, str]] = {
    "o200k_harmony": {200018: ENDOFPROMPT},
}


ENCODINGS: dict[str, EncodingFacts] = {
    facts.name: facts
    for facts in [
        # gpt2 is r50k_base under another name: tiktoken builds it from GPT-2's
        # own vocab.bpe and encoder.json, which give the same ranks.
        _encoding("gpt2", "r50k_base", R50K_PAT_STR, {ENDOFTEXT: 50256}, 50257),
        _encoding("r50k_base", "r50k_base", R50K_PAT_STR, {ENDOFTEXT: 50256}, 50257),
        _encoding("p50k_base", "p50k_base", R50K_PAT_STR, {ENDOFTEXT: 50256}, 50281),
        _encoding(
            "p50k_edit",
            "p50k_base",
            R50K_PAT_STR,
            {ENDOFTEXT: 50256, FIM_PREFIX: 50281, FIM_MIDDLE: 50282, FIM_SUFFIX: 50283},
        ),
        _encoding(
            "cl100k_base",
            "cl100k_base",
            CL100K_PAT_STR,
            {
                ENDOFTEXT: 100257,
                FIM_PREFIX: 100258,
                FIM_MIDDLE: 100259,
                FIM_SUFFIX: 100260,
                ENDOFPROMPT: 100276,
            },
        ),
        _encoding(
            "o200k_base", "o200k_base", O200K_PAT_STR, {ENDOFTEXT: 199999, ENDOFPROMPT: 200018}
        ),
        _encoding("o200k_harmony", "o200k_base", O200K_PAT_STR, _harmony_special_tokens()),
    ]
}

# Model prefixes, tried in this order after MODEL_TO_ENCODING (the first that
# begins the model name wins).
MODEL_PREFIX_TO_ENCODING: dict[str, str] = {
    "o1-": "o200k_base",
    "o3-": "o200k_base",
    "o4-mini-": "o200k_base",
    # chat
    "gpt-5": "o200k_base",
    "gpt-4.5-": "o200k_base",
    "gpt-4.1-": "o200k_base",
    "chatgpt-4o-": "o200k_base",
    "gpt-4o-": "o200k_base",
    "gpt-4-": "cl100k_base",
    "gpt-3.5-turbo-": "cl100k_base",
    "gpt-35-turbo-": "cl100k_base",  # Azure deployment name
    "gpt-oss-": "o200k_harmony",
    # fine-tuned
    "ft:gpt-4o": "o200k_base",
    "ft:gpt-4": "cl100k_base",
    "ft:gpt-3.5-turbo": "cl100k_base",
    "ft:davinci-002": "cl100k_base",
    "ft:babbage-002": "cl100k_base",
}

MODEL_TO_ENCODING: dict[str, str] = {
    # reasoning
    "o1": "o200k_base",
    "o3": "o200k_base",
    "o4-mini": "o200k_base",
    # chat
    "gpt-5": "o200k_base",
    "gpt-4.1": "o200k_base",
    "gpt-4o": "o200k_base",
    "gpt-4": "cl100k_base",
    "gpt-3.5-turbo": "cl100k_base",
    "gpt-3.5": "cl100k_base",
    "gpt-35-turbo": "cl100k_base",
    # base
    "davinci-002": "cl100k_base",
    "babbage-002": "cl100k_base",
    # embeddings
    "text-embedding-ada-002": "cl100k_base",
    "text-embedding-3-small": "cl100k_base",
    "text-embedding-3-large": "cl100k_base",
    # text, deprecated
    "text-davinci-003": "p50k_base",
    "text-davinci-002": "p50k_base",
    "text-davinci-001": "r50k_base",
    "text-curie-001": "r50k_base",
    "text-babbage-001": "r50k_base",
    "text-ada-001": "r50k_base",
    "davinci": "r50k_base",
    "curie": "r50k_base",
    "babbage": "r50k_base",
    "ada": "r50k_base",
    # code, deprecated
    "code-davinci-002": "p50k_base",
    "code-davinci-001": "p50k_base",
    "code-cushman-002": "p50k_base",
    "code-cushman-001": "p50k_base",
    "davinci-codex": "p50k_base",
    "cushman-codex": "p50k_base",
    # edit, deprecated
    "text-davinci-edit-001": "p50k_edit",
    "code-davinci-edit-001": "p50k_edit",
    # old embeddings, deprecated
    "text-similarity-davinci-001": "r50k_base",
    "text-similarity-curie-001": "r50k_base",
    "text-similarity-babbage-001": "r50k_base",
    "text-similarity-ada-001": "r50k_base",
    "text-search-davinci-doc-001": "r50k_base",
    "text-search-curie-doc-001": "r50k_base",
    "text-search-babbage-doc-001": "r50k_base",
    "text-search-ada-doc-001": "r50k_base",
    "code-search-babbage-code-001": "r50k_base",
    "code-search-ada-code-001": "r50k_base",
    # open source
    "gpt2": "gpt2",
    "gpt-2": "gpt2",
}


def rule_set_for_pattern(pat_str: str) -> Optional[str]:
    """The hand-written rule set that cuts text exactly as pat_str does, or
    None when there is none (the text is then split by the regex package)."""
    return PATTERN_RULE_SETS.get(pat_str)
