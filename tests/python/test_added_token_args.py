"""The special-token arguments in every shape tiktoken takes, against
tiktoken: ids, exception types and messages of encode and encode_batch, all
resolved by the native rules (disallowed strings that are no special token,
the empty string, members that are no str, any iterable, lone surrogates)."""

import pytest
from test_encoding import _tiktoken

import velkan

EOT = "<|endoftext|>"

ALLOWED = {
    "empty set": lambda: set(),
    "set": lambda: {EOT},
    "frozenset": lambda: frozenset({EOT}),
    "all": lambda: "all",
    "unknown name": lambda: {"zz"},
}

DISALLOWED = {
    "all": lambda: "all",
    "empty tuple": lambda: (),
    "empty list": lambda: [],
    "None": lambda: None,
    "set": lambda: {EOT},
    "list": lambda: [EOT],
    "generator": lambda: (t for t in [EOT]),
    "dict keys": lambda: {EOT: 1}.keys(),
    "no special token": lambda: {"hello"},
    "empty string": lambda: {""},
    "int member": lambda: {5},
    "bytes member": lambda: {b"x"},
    "a str, read as its characters": lambda: "hello",
    "lone surrogate": lambda: {"\ud800"},
}

TEXTS = ["hello world", EOT + " hi", "a\ud800b", "hello\ud800", ""]


def _outcome(call):
    try:
        return "ok", call()
    except Exception as e:  # noqa: BLE001 (the type and message are compared)
        return type(e).__name__, str(e)


# No native rule set splits this: such an encoding reads its arguments on
# the general path, by the same native rules.
GENERAL_PATTERN = r"""(?i:[a-z]+)|\d| ?[^\sa-zA-Z\d]+|\s+(?!\S)|\s+"""


@pytest.fixture(scope="module", params=["native", "general"])
def encodings(request):
    tiktoken = _tiktoken()
    reference = tiktoken.get_encoding("cl100k_base")
    if request.param == "native":
        return reference, velkan.get_encoding("cl100k_base")
    args = {
        "pat_str": GENERAL_PATTERN,
        "mergeable_ranks": reference._mergeable_ranks,
        "special_tokens": reference._special_tokens,
    }
    ours = velkan.Encoding("general_args", **args)
    assert ours._backend.tokenizer is None
    return tiktoken.Encoding("general_args", **args), ours


@pytest.mark.parametrize("text", TEXTS, ids=repr)
@pytest.mark.parametrize("disallowed", list(DISALLOWED), ids=str)
@pytest.mark.parametrize("allowed", list(ALLOWED), ids=str)
@pytest.mark.parametrize("method", ["encode", "encode_with_unstable"])
def test_encode_matches_tiktoken(encodings, method, allowed, disallowed, text):
    reference, enc = encodings

    def run(e):
        result = _outcome(
            lambda: getattr(e, method)(
                text,
                allowed_special=ALLOWED[allowed](),
                disallowed_special=DISALLOWED[disallowed](),
            )
        )
        if method == "encode_with_unstable" and result[0] == "ok":
            # The completions come in no particular order.
            stable, completions = result[1]
            return stable, sorted(completions)
        return result

    assert run(enc) == run(reference)


# tiktoken's encode_batch reads None as frozenset(None) (TypeError) where
# its encode checks nothing; velkan checks nothing in both.
@pytest.mark.parametrize("disallowed", [d for d in DISALLOWED if d != "None"], ids=str)
def test_batch_matches_tiktoken(encodings, disallowed):
    reference, enc = encodings
    texts = [t for t in TEXTS if "\ud800" not in t]

    def run(e):
        return _outcome(
            lambda: e.encode_batch(
                texts, num_threads=2, disallowed_special=DISALLOWED[disallowed]()
            )
        )

    assert run(enc) == run(reference)


def test_native_check_takes_every_shape():
    # The native rules answer every argument shape: nothing is left to a
    # second copy of them.
    enc = velkan.get_encoding("cl100k_base")
    specials = enc._backend.specials.native
    tokenizer = enc._backend.tokenizer
    for make in DISALLOWED.values():
        for text in ("hello world", EOT):
            checked = _outcome(lambda t=text, m=make: specials.check(t, frozenset(), m()))
            encoded = _outcome(
                lambda t=text, m=make: tokenizer.encode_special(t, specials, set(), m())
            )
            assert checked[1] is not NotImplemented and encoded[1] is not NotImplemented


def test_disallowed_message_lives_natively():
    import velkan.bpe.openai as openai
    from velkan.core import raise_disallowed_special_token

    with pytest.raises(ValueError) as native:
        openai.SpecialTokens.raise_disallowed("<|x|>")
    with pytest.raises(ValueError) as python:
        raise_disallowed_special_token("<|x|>")
    assert str(native.value) == str(python.value)
    assert "allowed_special={'<|x|>', ...}" in str(native.value)
