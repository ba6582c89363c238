"""Code that imports tiktoken as libraries do, run by test_as_tiktoken.py in
processes of its own: a text splitter in the manner of LangChain's
TokenTextSplitter, a tokenizer getter in the manner of LlamaIndex's
get_tokenizer, a cost counter, message counting as in OpenAI's cookbook, and
the module-level names bundlers and plugins read. Prints one JSON object of
results; which implementation ran is under "impl"."""

import functools
import json
import sys

import tiktoken
import tiktoken.core
import tiktoken.load
import tiktoken.model
import tiktoken.registry
from tiktoken_ext.openai_public import ENCODING_CONSTRUCTORS

TEXT = (
    "Tokenizers cut text into pieces.\n\n  Ünïcödé, 中文字符, emoji 👍🏽 and code:\n"
    "def f(x):\n    return x ** 2  # squares\n" * 7
)
SPECIAL_TEXT = "Hello <|endoftext|> world <|fim_prefix|>!"


def split_text(
    text,
    *,
    encoding_name="gpt2",
    model_name=None,
    chunk_size=40,
    chunk_overlap=8,
    allowed_special=frozenset(),
    disallowed_special="all",
):
    # As a token splitter does: encode once, decode overlapping windows.
    if model_name is not None:
        enc = tiktoken.encoding_for_model(model_name)
    else:
        enc = tiktoken.get_encoding(encoding_name)
    ids = enc.encode(text, allowed_special=allowed_special, disallowed_special=disallowed_special)
    chunks = []
    start = 0
    while start < len(ids):
        window = ids[start : start + chunk_size]
        chunks.append(enc.decode(window))
        if start + chunk_size >= len(ids):
            break
        start += chunk_size - chunk_overlap
    return chunks


def length_function(encoding_name, allowed_special=frozenset(), disallowed_special="all"):
    # A splitter's length function built "from the tiktoken encoder".
    enc = tiktoken.get_encoding(encoding_name)

    def length(text):
        return len(
            enc.encode(text, allowed_special=allowed_special, disallowed_special=disallowed_special)
        )

    return length


def get_tokenizer(model="gpt-3.5-turbo"):
    # As an index library's global tokenizer: the model's encoding, every
    # special token allowed.
    enc = tiktoken.encoding_for_model(model)
    return functools.partial(enc.encode, allowed_special="all")


def encoding_for(model):
    # A cost counter: the model's encoding, else cl100k_base.
    try:
        return tiktoken.encoding_for_model(model)
    except KeyError:
        return tiktoken.get_encoding("cl100k_base")


def num_tokens_from_messages(messages, model="gpt-4o"):
    enc = encoding_for(model)
    tokens_per_message, tokens_per_name = 3, 1
    n = 0
    for message in messages:
        n += tokens_per_message
        for key, value in message.items():
            n += len(enc.encode(value))
            if key == "name":
                n += tokens_per_name
    return n + 3


def error_of(call):
    try:
        call()
    except Exception as e:
        return [type(e).__name__, str(e)]
    return None


def main():
    out = {"impl": type(tiktoken.get_encoding("cl100k_base")).__module__.split(".")[0]}
    out["splitter"] = {
        "cl100k": split_text(TEXT, encoding_name="cl100k_base"),
        "gpt-4o": split_text(TEXT, model_name="gpt-4o", chunk_size=25, chunk_overlap=5),
        "allowed": split_text(
            SPECIAL_TEXT * 3,
            encoding_name="cl100k_base",
            chunk_size=5,
            chunk_overlap=1,
            allowed_special={"<|endoftext|>"},
            disallowed_special=(),
        ),
        "all": split_text(SPECIAL_TEXT, encoding_name="p50k_base", allowed_special="all"),
    }
    out["length"] = [
        length_function("cl100k_base")(TEXT),
        length_function("o200k_base", disallowed_special=())(SPECIAL_TEXT),
        length_function("r50k_base", allowed_special="all")(SPECIAL_TEXT),
    ]
    tokenizer = get_tokenizer()
    out["tokenizer"] = [tokenizer(TEXT), tokenizer(SPECIAL_TEXT)]
    out["disallowed"] = error_of(lambda: tiktoken.get_encoding("cl100k_base").encode(SPECIAL_TEXT))
    messages = [
        {"role": "system", "content": "You are a helpful assistant."},
        {"role": "user", "name": "example_user", "content": TEXT},
        {"role": "assistant", "content": "中文字符 and emoji 👍🏽"},
    ]
    models = [
        "gpt-4",
        "gpt-4o",
        "gpt-3.5-turbo-0613",
        "text-embedding-3-small",
        "o1-mini",
        "gpt-4o-2024-08-06",
        "text-davinci-003",
        "some-unknown-model",
    ]
    out["costs"] = {m: num_tokens_from_messages(messages, m) for m in models}
    out["encoding_names"] = {m: encoding_for(m).name for m in models}
    out["unknown_model"] = error_of(lambda: tiktoken.encoding_for_model("some-unknown-model"))
    out["model_table"] = sorted(tiktoken.model.MODEL_TO_ENCODING.items())
    out["prefix_table"] = sorted(tiktoken.model.MODEL_PREFIX_TO_ENCODING.items())
    out["names"] = sorted(tiktoken.list_encoding_names())
    out["registry_names"] = sorted(tiktoken.registry.list_encoding_names())
    out["constructors"] = sorted(ENCODING_CONSTRUCTORS)
    out["classes"] = [
        tiktoken.core.Encoding is tiktoken.Encoding,
        tiktoken.model.encoding_for_model is tiktoken.encoding_for_model,
        tiktoken.registry.get_encoding is tiktoken.get_encoding,
        callable(tiktoken.load.load_tiktoken_bpe),
        callable(tiktoken.core.raise_disallowed_special_token),
    ]
    enc = tiktoken.get_encoding("o200k_base")
    out["facts"] = [
        enc.name,
        enc.n_vocab,
        enc.max_token_value,
        enc.eot_token,
        sorted(enc.special_tokens_set),
    ]
    out["cached"] = tiktoken.registry.ENCODINGS.get("o200k_base") is enc
    # An encoding extended with chat tokens, as chat templates build it.
    base = tiktoken.get_encoding("cl100k_base")
    chat = tiktoken.Encoding(
        name="cl100k_im",
        pat_str=base._pat_str,
        mergeable_ranks=base._mergeable_ranks,
        special_tokens={**base._special_tokens, "<|im_start|>": 100264, "<|im_end|>": 100265},
    )
    out["chat"] = chat.encode("<|im_start|>user\nhi<|im_end|>", allowed_special="all")
    kwargs = ENCODING_CONSTRUCTORS["cl100k_base"]()
    out["constructed"] = [
        sorted(k for k in kwargs if k != "mergeable_ranks"),
        tiktoken.Encoding(**kwargs).encode(TEXT)[:50],
    ]
    json.dump(out, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main()
