"""One cold start, run by run.py in a fresh interpreter:

    python coldstart.py velkan|velkan-custom|tiktoken VOCAB REPO_ROOT

Times the import, the first tokenizer (velkan: build or image load;
velkan-custom: reading the rank file less its last token, a vocabulary of
one's own, and building a velkan.Encoding from it; tiktoken: reading and
parsing its rank file, then building its encoder) and
the first encode of a short text, and reads the resident memory after each
step. Prints one JSON object."""

import json
import os
import sys
import time


def rss_bytes():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    return 0


TEXT = "Cold start: the first text a fresh process encodes, with a number 12345."


def main():
    impl, vocab, root = sys.argv[1:4]
    # The pattern is the benchmark's, not part of tiktoken's start.
    sys.path.insert(0, os.path.join(root, "tests", "python"))
    from reference import PATTERNS, RANKS

    rss0 = rss_bytes()
    t0 = time.perf_counter()
    if impl == "velkan":
        import velkan.bpe.openai as openai

        t1 = time.perf_counter()
        rss1 = rss_bytes()
        tok = getattr(openai, vocab)()
        t2 = time.perf_counter()
        ids = tok.encode(TEXT)
    elif impl == "velkan-custom":
        import velkan

        t1 = time.perf_counter()
        rss1 = rss_bytes()
        ranks = velkan.load_tiktoken_bpe(os.path.join(RANKS, vocab + ".tiktoken"))
        # Without its last merge the vocabulary is no built-in one, and still a
        # valid byte-pair vocabulary (no token is made from the last one).
        del ranks[max(ranks, key=ranks.__getitem__)]
        tok = velkan.Encoding(
            "custom", pat_str=PATTERNS[vocab], mergeable_ranks=ranks, special_tokens={}
        )
        t2 = time.perf_counter()
        ids = tok.encode_ordinary(TEXT)
    else:
        import tiktoken
        import tiktoken.load

        t1 = time.perf_counter()
        rss1 = rss_bytes()
        # TIKTOKEN_CACHE_DIR is empty (run.py sets it), so this reads the
        # local file directly and never caches or downloads.
        ranks = tiktoken.load.load_tiktoken_bpe(os.path.join(RANKS, vocab + ".tiktoken"))
        tok = tiktoken.Encoding(
            vocab, pat_str=PATTERNS[vocab], mergeable_ranks=ranks, special_tokens={}
        )
        t2 = time.perf_counter()
        ids = tok.encode_ordinary(TEXT)
    t3 = time.perf_counter()
    print(
        json.dumps(
            {
                "import_s": t1 - t0,
                "load_s": t2 - t1,
                "first_encode_s": t3 - t2,
                "total_s": t3 - t0,
                "rss_start": rss0,
                "rss_imported": rss1,
                "rss_loaded": rss_bytes(),
                "tokens": len(ids),
            }
        )
    )


if __name__ == "__main__":
    main()
