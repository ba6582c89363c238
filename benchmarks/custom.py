"""Vocabularies of one's own: build time and 1 MB encodes, velkan against
tiktoken, on four shapes of custom Encoding.

    python benchmarks/custom.py [--rounds 3] [--cases qwen,llama3-cl100k,llama3,toy]

The cases (all made from the repository's cl100k_base ranks, so nothing is
downloaded):
  qwen           Qwen2's pattern (single digits) on cl100k plus 3,000 merges
  llama3-cl100k  cl100k_base's ranks with Llama 3's spelling of the pattern
  llama3         Llama 3's pattern on cl100k plus 28,000 merges (128,256 ranks)
  toy            cl100k_base's first 5,000 ranks with cl100k's pattern

The added merges join two tokens that exist already (the most frequent pairs
of neighbouring ids over the corpora), as byte-pair training would. Each
(library, case) runs in a fresh interpreter: the build is the first
Encoding(...) of that process (the ranks dict made beforehand), then the
1 MB text (a sixth of each corpus) is encoded `rounds` times; the first and
the fastest pass are shown. Ids of both libraries are compared.
"""

import argparse
import base64
import collections
import hashlib
import json
import os
import subprocess
import sys
import time

from velkan import _encodings_data as _facts

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
RANKS = os.path.join(ROOT, "src", "vocab", "data", "cl100k_base.tiktoken")

CL100K = _facts.CL100K_PAT_STR
LLAMA3 = _facts.CL100K_OLD_PAT_STR  # Llama 3's spelling
# Qwen's: Llama 3's with single numbers (spelt out for velkan releases before it).
QWEN2 = LLAMA3.replace(r"\p{N}{1,3}", r"\p{N}")
CASES = {
    "qwen": (QWEN2, 3000, None),
    "llama3-cl100k": (LLAMA3, 0, None),
    "llama3": (LLAMA3, 28000, None),
    "toy": (CL100K, 0, 5000),
}


def load_ranks():
    ranks = {}
    with open(RANKS, "rb") as f:
        for line in f:
            token, rank = line.split()
            ranks[base64.b64decode(token)] = int(rank)
    return ranks


def text_1mb():
    sys.path.insert(0, HERE)
    from texts import load_corpora

    corpora = load_corpora()
    share = (1 << 20) // len(corpora)
    parts = []
    for text in corpora.values():
        data = text.encode("utf-8")
        parts.append(data[:share].decode("utf-8", errors="ignore"))
    return "".join(parts)


def vocabulary(case, text):
    pattern, merges, first = CASES[case]
    ranks = load_ranks()
    if first is not None:
        ranks = {t: i for t, i in ranks.items() if i < first}
    cache = os.path.join("/tmp", "velkan-custom-bench-%s-%d.json" % (case, merges))
    if merges and os.path.exists(cache):
        with open(cache) as f:
            extra = json.load(f)
        ranks.update({base64.b64decode(t): i for t, i in extra.items()})
    elif merges:
        # Pairs counted over the pieces of the pattern itself.
        import regex
        import tiktoken

        enc = tiktoken.Encoding("base", pat_str=CL100K, mergeable_ranks=ranks, special_tokens={})
        by_id = {i: t for t, i in ranks.items()}
        pairs = collections.Counter()
        for piece in regex.findall(pattern, text):
            ids = enc.encode_ordinary(piece)
            pairs.update(zip(ids, ids[1:]))
        rank = max(ranks.values()) + 1
        extra = {}
        for (a, b), _ in pairs.most_common():
            token = by_id[a] + by_id[b]
            if token in ranks or token in extra:
                continue
            extra[token] = rank
            rank += 1
            if len(extra) >= merges:
                break
        if len(extra) < merges:
            # Fewer distinct pairs than asked: join pairs of the joined ones.
            tokens = list(extra)
            i = 0
            while len(extra) < merges:
                token = tokens[i % len(tokens)] + tokens[(i * 7 + 1) % len(tokens)]
                if token not in ranks and token not in extra:
                    extra[token] = rank
                    rank += 1
                i += 1
        ranks.update(extra)
        with open(cache, "w") as f:
            json.dump({base64.b64encode(t).decode(): i for t, i in extra.items()}, f)
    return pattern, ranks


def child(lib, case, rounds):
    text = text_1mb()
    pattern, ranks = vocabulary(case, text)
    if lib == "tiktoken":
        import tiktoken as module
    else:
        import velkan as module
    start = time.perf_counter()
    enc = module.Encoding(case, pat_str=pattern, mergeable_ranks=ranks, special_tokens={})
    build = time.perf_counter() - start
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        ids = enc.encode_ordinary(text)
        times.append(time.perf_counter() - start)
    digest = hashlib.sha256(json.dumps(ids).encode()).hexdigest()
    print(
        json.dumps(
            {
                "build_s": build,
                "first_s": times[0],
                "best_s": min(times),
                "ids": digest,
                "n": len(ids),
                "bytes": len(text.encode()),
            }
        )
    )


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--cases", default=",".join(CASES))
    parser.add_argument("--child", nargs=2, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child:
        child(args.child[0], args.child[1], args.rounds)
        return
    rows = []
    for case in args.cases.split(","):
        got = {}
        for lib in ("tiktoken", "velkan"):
            out = subprocess.run(
                [sys.executable, __file__, "--rounds", str(args.rounds), "--child", lib, case],
                check=True,
                capture_output=True,
                text=True,
            ).stdout
            got[lib] = json.loads(out.splitlines()[-1])
        t, v = got["tiktoken"], got["velkan"]
        same = "yes" if t["ids"] == v["ids"] else "NO"
        rows.append(
            "| %s | %.3f | %.3f | %.2fx | %.1f / %.1f | %.1f / %.1f | %.2fx | %s |"
            % (
                case,
                t["build_s"],
                v["build_s"],
                v["build_s"] / t["build_s"],
                t["first_s"] * 1e3,
                t["best_s"] * 1e3,
                v["first_s"] * 1e3,
                v["best_s"] * 1e3,
                t["best_s"] / v["best_s"],
                same,
            )
        )
    print(
        "| case | tiktoken build s | velkan build s | velkan/tiktoken | "
        "tiktoken 1 MB ms (first / best) | velkan 1 MB ms (first / best) | "
        "speed-up (best) | same ids |"
    )
    print("|---|---|---|---|---|---|---|---|")
    print("\n".join(rows))


if __name__ == "__main__":
    main()
