"""Resident memory of velkan and its peers after loading a vocabulary and
after encoding about 100 MB of varied text, each tool in a fresh process:

    python benchmarks/memory.py [--megabytes 100] [--tools velkan,tiktoken]

The text is made on the fly in 8 KB documents, so that the benchmark itself
holds almost nothing: words of all six corpora drawn at random, a third of
them changed by a random letter, digit or accent (so that the stream keeps
bringing pieces never seen and every cache fills and evicts). Each document
is encoded and its ids dropped. Printed: MB resident after loading and at
the end, and the peak, per tool and vocabulary, with the ratio to tiktoken.
"""

import argparse
import json
import os
import random
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import texts as texts_mod  # noqa: E402

VOCABULARIES = ("cl100k_base", "o200k_base")
TOOLS = ("velkan", "tiktoken", "gigatoken", "splintr-rs", "riptoken")
EXTRA = "abcdefghijklmnopqrstuvwxyz0123456789éüñßçøåж中語"


def status_mb(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) / 1024
    return 0.0


def documents(megabytes, seed=7):
    """8 KB documents of varied text, about megabytes MB in all."""
    rng = random.Random(seed)
    words = []
    for text in texts_mod.load_corpora().values():
        words.extend(text.split(" "))
    made = 0
    while made < megabytes * 1_000_000:
        parts, size = [], 0
        while size < 8192:
            word = rng.choice(words)
            if word and rng.random() < 1 / 3:
                i = rng.randrange(len(word) + 1)
                word = word[:i] + rng.choice(EXTRA) + word[i:]
            parts.append(word)
            size += len(word) + 1
        doc = " ".join(parts)
        made += len(doc.encode("utf-8"))
        yield doc


def child(tool, vocab, megabytes):
    import peers as peers_mod

    rss_start = status_mb("VmRSS")
    if tool == "velkan":
        peer = peers_mod.Velkan(vocab)
    else:
        cls = {c.name: c for c in (peers_mod.Tiktoken,) + peers_mod.OPTIONAL}[tool]
        peer = cls(vocab)
    peer.encode("warm up the tokenizer")
    loaded = status_mb("VmRSS")
    tokens = 0
    for doc in documents(megabytes):
        tokens += len(peer.encode(doc))
    print(
        json.dumps(
            {
                "start": rss_start,
                "loaded": loaded,
                "end": status_mb("VmRSS"),
                "peak": status_mb("VmHWM"),
                "tokens": tokens,
            }
        )
    )


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if argv and argv[0] == "--child":
        child(argv[1], argv[2], float(argv[3]))
        return
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--megabytes", type=float, default=100)
    parser.add_argument("--tools", default=",".join(TOOLS))
    args = parser.parse_args(argv)
    print("| vocabulary | tool | MB loaded | MB at the end | peak MB | vs tiktoken (loaded, end) |")
    print("|---|---|---|---|---|---|")
    for vocab in VOCABULARIES:
        results = {}
        for tool in args.tools.split(","):
            command = [sys.executable, os.path.abspath(__file__), "--child", tool, vocab]
            p = subprocess.run(command + [str(args.megabytes)], capture_output=True, text=True)
            if p.returncode != 0:
                print("  %s unavailable: %s" % (tool, p.stderr.strip()[-200:]), file=sys.stderr)
                continue
            results[tool] = json.loads(p.stdout.strip().splitlines()[-1])
        counts = {r["tokens"] for t, r in results.items()}
        if len(counts) > 1:
            print("  token totals differ: %s" % {t: r["tokens"] for t, r in results.items()})
        ref = results.get("tiktoken")
        for tool, r in results.items():
            ratio = (
                "%.2fx, %.2fx" % (r["loaded"] / ref["loaded"], r["end"] / ref["end"])
                if ref
                else "-"
            )
            print(
                "| %s | %s | %.0f | %.0f | %.0f | %s |"
                % (vocab, tool, r["loaded"], r["end"], r["peak"], ratio)
            )


if __name__ == "__main__":
    main()
