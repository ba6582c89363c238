"""The module tree and the three object types of velkan.bpe."""

import sys

import pytest

import velkan.bpe
import velkan.bpe.openai
from velkan.bpe import BytePairEncoding
from velkan.bpe.openai import ParallelOptions, SpecialTokens, Tokenizer

STANDARD = {"__doc__", "__file__", "__loader__", "__name__", "__package__", "__spec__"}


def public(module):
    return {name for name in set(dir(module)) - STANDARD if not name.startswith("_")}


def test_module_tree():
    assert velkan.bpe.openai is sys.modules["velkan.bpe.openai"]
    assert public(velkan.bpe) == {"BytePairEncoding", "openai"}
    assert public(velkan.bpe.openai) == {
        "Tokenizer",
        "SpecialTokens",
        "ParallelOptions",
        "cl100k_base",
        "o200k_base",
        "is_cached_cl100k",
        "is_cached_o200k",
        "r50k_base",
        "p50k_base",
        "is_cached_r50k",
        "is_cached_p50k",
        "get_num_threads",
    }


@pytest.mark.parametrize(
    "cls, module, name",
    [
        (BytePairEncoding, "velkan.bpe", "BytePairEncoding"),
        (Tokenizer, "velkan.bpe.openai", "Tokenizer"),
        (ParallelOptions, "velkan.bpe.openai", "ParallelOptions"),
    ],
)
def test_type_names_and_no_subclassing(cls, module, name):
    assert (cls.__module__, cls.__name__) == (module, name)
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})


def test_method_sets():
    def methods(cls):
        return {n for n in dir(cls) if not n.startswith("__")}

    assert methods(BytePairEncoding) == {
        "count",
        "encode_via_backtracking",
        "decode_tokens",
        "_tokens",
        "_token_id",
        "_same_ranks",
        "_token_bytes",
    }
    assert methods(Tokenizer) == {
        "count",
        "count_till_limit",
        "count_batch",
        "encode",
        "encode_batch",
        "_encode_bytes",
        "encode_batch_parallel",
        "encode_batch_flat",
        "encode_special",
        "decode",
        "decode_batch",
        "decode_batch_parallel",
        "bpe",
        "chunks",
        "chunk_spans",
        "truncate",
        "encode_with_offsets",
        "decoder",
        "_encode_prefix",
        "_count_prefix",
        "_certain_end",
    }
    assert methods(ParallelOptions) == {"min_batch_size", "chunk_size", "max_threads"}


@pytest.mark.parametrize(
    "args, kwargs, expected",
    [
        ((), {}, (20, 100, 0)),
        ((5,), {}, (5, 100, 0)),
        ((), {"chunk_size": 7}, (20, 7, 0)),
        ((1, 2, 3), {}, (1, 2, 3)),
        ((), {"max_threads": 9, "min_batch_size": 8}, (8, 100, 9)),
        ((-1, -2, -3), {}, (-1, -2, -3)),  # negative values read back unchanged
        ((2**63 - 1,), {}, (2**63 - 1, 100, 0)),
    ],
)
def test_parallel_options_values(args, kwargs, expected):
    o = ParallelOptions(*args, **kwargs)
    assert (o.min_batch_size, o.chunk_size, o.max_threads) == expected


@pytest.mark.parametrize(
    "args, kwargs",
    [
        (("1",), {}),
        ((), {"chunk_size": "7"}),
        ((), {"max_threads": 1.5}),
        ((), {"threads": 1}),
        ((1, 2, 3, 4), {}),
        ((2**63,), {}),
    ],
)
def test_parallel_options_bad_arguments(args, kwargs):
    with pytest.raises((TypeError, OverflowError)):
        ParallelOptions(*args, **kwargs)


@pytest.mark.parametrize("name", ["min_batch_size", "chunk_size", "max_threads"])
def test_parallel_options_read_only(name):
    o = ParallelOptions()
    with pytest.raises(AttributeError):
        setattr(o, name, 1)


@pytest.mark.parametrize(
    "call",
    [
        lambda t: t.count("x"),
        lambda t: t.count_till_limit("x", 1),
        lambda t: t.encode("x"),
        lambda t: t.encode_batch(["x"]),
        lambda t: t.encode_batch_parallel(["x"]),
        lambda t: t.decode([1]),
        lambda t: t.decode_batch([[1]]),
        lambda t: t.decode_batch_parallel([[1]]),
        lambda t: t.bpe(),
        lambda t: t._encode_bytes(b"x"),
        lambda t: t.encode_special("x", None, None, "all"),
        lambda t: t.encode_batch_flat(["x"]),
        lambda t: t.count_batch(["x"]),
        lambda t: t.chunks("x", 1),
        lambda t: t.chunk_spans("x", 1),
        lambda t: t.truncate("x", 1),
        lambda t: t.encode_with_offsets("x"),
        lambda t: t.decoder(),
        lambda t: t._encode_prefix("x", True),
        lambda t: t._count_prefix("x", True),
        lambda t: t._certain_end(b"x"),
        lambda t: velkan.bpe.openai._with_rule_set(t, "o200k"),
    ],
)
def test_tokenizer_made_directly_has_no_encoding(call):
    # Every method, in whichever file, says the same and where to get one.
    with pytest.raises(ValueError, match=r"^Tokenizer has no encoding; get one from velkan\.bpe"):
        call(Tokenizer())


@pytest.mark.parametrize(
    "call",
    [
        lambda b: b.count(b"x"),
        lambda b: b.encode_via_backtracking(b"x"),
        lambda b: b.decode_tokens([1]),
        lambda b: b._tokens(False),
        lambda b: b._token_id(b"x"),
        lambda b: b._token_bytes(1),
        lambda b: SpecialTokens({}).decode(b, [1]),
        lambda b: SpecialTokens({}).decode_batch(b, [[1]]),
        lambda b: SpecialTokens({}).tokens_bytes(b, [1]),
    ],
)
def test_byte_pair_encoding_made_directly_has_no_encoding(call):
    # The methods that are handed one say it as its own methods do.
    with pytest.raises(
        ValueError, match=r"^BytePairEncoding has no encoding; get one from Tokenizer\.bpe\(\)$"
    ):
        call(BytePairEncoding())


def test_attributes_cannot_be_added():
    with pytest.raises((AttributeError, TypeError)):
        Tokenizer().extra = 1
    with pytest.raises((AttributeError, TypeError)):
        BytePairEncoding.extra = 1
