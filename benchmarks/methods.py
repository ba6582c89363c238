"""Per-call cost of each public method of Encoding, velkan against tiktoken.

    python benchmarks/methods.py [--vocab cl100k_base,o200k_base] [--rounds 7]

Both libraries get the same arguments; each method is timed in interleaved
rounds (tiktoken, then velkan, then again), each round long enough to hold
many calls, and each library keeps its median round. tiktoken is built
offline from the repository's rank files (a temporary TIKTOKEN_CACHE_DIR).
The table gives microseconds per call and tiktoken's time over velkan's
(above 1: velkan is faster). On a shared machine the ratios of one run are
what counts, not the absolute times.
"""

import argparse
import hashlib
import os
import pickle
import statistics
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
RANKS = os.path.join(ROOT, "src", "vocab", "data")
_URL = "https://openaipublic.blob.core.windows.net/encodings/%s.tiktoken"


def tiktoken_offline():
    cache = tempfile.mkdtemp(prefix="velkan-methods-")
    for name in ("cl100k_base", "o200k_base"):
        key = hashlib.sha1((_URL % name).encode()).hexdigest()
        with open(os.path.join(RANKS, name + ".tiktoken"), "rb") as src:
            with open(os.path.join(cache, key), "wb") as dst:
                dst.write(src.read())
    os.environ["TIKTOKEN_CACHE_DIR"] = cache
    import tiktoken

    return tiktoken


def per_call(fn, budget):
    # Calls per round so that one round takes about budget seconds.
    n = 1
    while True:
        start = time.perf_counter()
        for _ in range(n):
            fn()
        took = time.perf_counter() - start
        if took >= budget / 4 or n >= 1 << 20:
            return max(1, int(n * budget / max(took, 1e-9)))
        n *= 4


def measure(fns, rounds, budget):
    counts = [per_call(fn, budget) for fn in fns]
    samples = [[] for _ in fns]
    for _ in range(rounds):
        for i, fn in enumerate(fns):
            n = counts[i]
            start = time.perf_counter()
            for _ in range(n):
                fn()
            samples[i].append((time.perf_counter() - start) / n)
    return [statistics.median(s) for s in samples]


def cases(lib, enc, texts):
    """(method, callable) for one library's Encoding; the same arguments for
    both libraries."""
    doc, short, special = texts["doc"], texts["short"], texts["special"]
    ids = enc.encode_ordinary(doc)
    docs = [doc] * 16
    batch = [ids] * 16
    chat = dict(enc._special_tokens)
    chat.update({"<|im_start|>": enc.n_vocab + 10, "<|im_end|>": enc.n_vocab + 11})
    ranks = enc._mergeable_ranks
    pickled = pickle.dumps(enc)
    return [
        ("encode, 60 bytes", lambda: enc.encode(short)),
        ("encode, 4 KB", lambda: enc.encode(doc)),
        ("encode, allowed_special='all'", lambda: enc.encode(special, allowed_special="all")),
        ("encode, disallowed_special=()", lambda: enc.encode(special, disallowed_special=())),
        ("encode_ordinary, 4 KB", lambda: enc.encode_ordinary(doc)),
        ("encode_batch, 16 x 4 KB", lambda: enc.encode_batch(docs, num_threads=2)),
        (
            "encode_ordinary_batch, 16 x 4 KB",
            lambda: enc.encode_ordinary_batch(docs, num_threads=2),
        ),
        ("encode_to_numpy, 4 KB", lambda: enc.encode_to_numpy(doc)),
        ("encode_with_unstable", lambda: enc.encode_with_unstable("hello fanta")),
        ("encode_single_token", lambda: enc.encode_single_token(b"hello")),
        ("_encode_single_piece", lambda: enc._encode_single_piece(b"hello world")),
        ("_encode_only_native_bpe, 4 KB", lambda: enc._encode_only_native_bpe(doc)),
        ("_encode_bytes", lambda: enc._encode_bytes(b"hello \xff world")),
        ("decode, 4 KB", lambda: enc.decode(ids)),
        ("decode_bytes, 4 KB", lambda: enc.decode_bytes(ids)),
        ("decode_single_token_bytes", lambda: enc.decode_single_token_bytes(ids[0])),
        ("decode_tokens_bytes, 4 KB", lambda: enc.decode_tokens_bytes(ids)),
        ("decode_with_offsets, 4 KB", lambda: enc.decode_with_offsets(ids)),
        ("decode_batch, 16 x 4 KB", lambda: enc.decode_batch(batch, num_threads=2)),
        ("decode_bytes_batch, 16 x 4 KB", lambda: enc.decode_bytes_batch(batch, num_threads=2)),
        ("token_byte_values", enc.token_byte_values),
        ("_mergeable_ranks", lambda: enc._mergeable_ranks),
        ("special_tokens_set", lambda: enc.special_tokens_set),
        ("eot_token", lambda: enc.eot_token),
        ("n_vocab", lambda: enc.n_vocab),
        ("max_token_value", lambda: enc.max_token_value),
        ("is_special_token", lambda: enc.is_special_token(ids[0])),
        ("get_encoding", lambda: lib.get_encoding(enc.name)),
        ("encoding_for_model", lambda: lib.encoding_for_model("gpt-4o")),
        ("pickle.loads", lambda: pickle.loads(pickled)),
        (
            "Encoding(...) with 2 more special tokens",
            lambda: lib.Encoding(
                "chat", pat_str=enc._pat_str, mergeable_ranks=ranks, special_tokens=chat
            ),
        ),
    ]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--vocab", default="cl100k_base,o200k_base")
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--budget", type=float, default=0.02, help="seconds per round")
    args = parser.parse_args()
    tiktoken = tiktoken_offline()
    import velkan

    with open(os.path.join(HERE, "corpora", "english.txt"), encoding="utf-8") as f:
        english = f.read()
    texts = {
        "doc": english[:4096],
        "short": english[:60],
        "special": "Hello <|endoftext|> world. " * 20,
    }
    print("| vocabulary | method | tiktoken µs | velkan µs | ratio |")
    print("|---|---|---:|---:|---:|")
    for vocab in args.vocab.split(","):
        theirs = tiktoken.get_encoding(vocab)
        mine = velkan.get_encoding(vocab)
        # The first call of each (a lazily built table) is not what is
        # timed; it is printed below the table.
        first = {}
        for name, enc in (("tiktoken", theirs), ("velkan", mine)):
            start = time.perf_counter()
            enc.token_byte_values()
            first[name] = time.perf_counter() - start
        for (method, t_fn), (_, v_fn) in zip(
            cases(tiktoken, theirs, texts), cases(velkan, mine, texts)
        ):
            budget = args.budget * (10 if method.startswith("Encoding(") else 1)
            t, v = measure([t_fn, v_fn], args.rounds, budget)
            print(
                "| %s | %s | %.2f | %.2f | %.2fx |" % (vocab, method, t * 1e6, v * 1e6, t / v),
                flush=True,
            )
        print(
            "| %s | token_byte_values, first call | %.0f | %.0f | %.2fx |"
            % (
                vocab,
                first["tiktoken"] * 1e6,
                first["velkan"] * 1e6,
                first["tiktoken"] / first["velkan"],
            ),
            flush=True,
        )
    print(
        "\n%s, velkan %s, tiktoken %s"
        % (sys.version.split()[0], velkan.__version__, tiktoken.__version__)
    )


if __name__ == "__main__":
    main()
