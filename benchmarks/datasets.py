"""Counting a JSON lines dataset on one machine: `velkan count --field text`
against the same job done with tiktoken in a multiprocessing.Pool(2).

    python benchmarks/datasets.py [--size-mb 1024] [--encoding o200k_base]

Writes /tmp/velkan-bench-<size>MB.jsonl once from the repository's corpora
(paragraphs of prose, code and many scripts, a record each), then runs each
job in a fresh process and reports wall time, throughput and the peak
resident memory of the job (the largest process's peak for the pool, and the
sum over the parent and its workers, which all hold a vocabulary).
"""

from __future__ import annotations

import argparse
import glob
import json
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

TIKTOKEN_JOB = r"""
import json, multiprocessing, os, resource, sys, time
import tiktoken

NAME, PATH, TESTS = sys.argv[1], sys.argv[2], sys.argv[3]
BATCH = 2000
sys.path.insert(0, TESTS)
from reference import PATTERNS, load_ranks  # the repo's rank files: no download

def init():
    global ENC
    ENC = tiktoken.Encoding(
        NAME, pat_str=PATTERNS[NAME], mergeable_ranks=load_ranks(NAME), special_tokens={}
    )

def count(lines):
    return sum(len(ENC.encode_ordinary(json.loads(line)["text"])) for line in lines)

def batches():
    with open(PATH, "rb") as f:
        batch = []
        for line in f:
            batch.append(line)
            if len(batch) == BATCH:
                yield batch
                batch = []
        if batch:
            yield batch

if __name__ == "__main__":
    start = time.perf_counter()
    with multiprocessing.Pool(2, initializer=init) as pool:
        total = sum(pool.imap(count, batches(), chunksize=1))
    seconds = time.perf_counter() - start
    own = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    workers = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    print(json.dumps({"tokens": total, "seconds": seconds, "peak_kb": max(own, workers),
                      "sum_kb": own + 2 * workers}))
"""

VELKAN_JOB = r"""
import contextlib, io, json, resource, sys, time
from velkan.cli import main

out = io.StringIO()
start = time.perf_counter()
with contextlib.redirect_stdout(out):
    status = main(["count", "--json", "-e", sys.argv[1], "--field", "text", sys.argv[2]])
seconds = time.perf_counter() - start
assert status == 0, status
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
total = json.loads(out.getvalue())["total"]
print(json.dumps({"tokens": total, "seconds": seconds, "peak_kb": peak, "sum_kb": peak}))
"""


def make_dataset(size_mb: int) -> str:
    path = "/tmp/velkan-bench-%dMB.jsonl" % size_mb
    if os.path.exists(path) and os.path.getsize(path) >= size_mb << 20:
        return path
    paragraphs = []
    for corpus in sorted(glob.glob(os.path.join(HERE, "corpora", "*.txt"))):
        with open(corpus, encoding="utf-8") as f:
            paragraphs += [p for p in f.read().split("\n\n") if p.strip()]
    # Records of a few KB: paragraphs joined in a rotating order, so records differ.
    records = []
    for i in range(len(paragraphs)):
        text = "\n\n".join(paragraphs[(i + k * 7) % len(paragraphs)] for k in range(8))
        records.append(json.dumps({"id": i, "text": text}) + "\n")
    block = "".join(records).encode()
    with open(path + ".tmp", "wb") as f:
        written = 0
        while written < size_mb << 20:
            f.write(block)
            written += len(block)
    os.replace(path + ".tmp", path)
    return path


def run(code: str, *args: str) -> dict[str, float]:
    out = subprocess.run(
        [sys.executable, "-c", code, *args], capture_output=True, text=True, check=False
    )
    if out.returncode:
        raise SystemExit("job failed: %s" % out.stderr[-2000:])
    result: dict[str, float] = json.loads(out.stdout.strip().splitlines()[-1])
    return result


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size-mb", type=int, default=1024)
    parser.add_argument("--encoding", default="o200k_base")
    args = parser.parse_args()
    path = make_dataset(args.size_mb)
    size = os.path.getsize(path) / 1e6
    print("dataset: %s, %.0f MB, %d cores" % (path, size, os.cpu_count() or 0))
    rows = []
    for name, code in (
        ("velkan count (2 threads)", VELKAN_JOB),
        ("tiktoken Pool(2)", TIKTOKEN_JOB),
    ):
        result = run(
            code, args.encoding, path, os.path.join(os.path.dirname(HERE), "tests", "python")
        )
        rows.append((name, result))
        print(
            "%-26s %12d tokens %7.1f s %7.1f MB/s  peak RSS %5.0f MB (all processes %5.0f MB)"
            % (
                name,
                result["tokens"],
                result["seconds"],
                size / result["seconds"],
                result["peak_kb"] / 1024,
                result["sum_kb"] / 1024,
            )
        )
    (_, velkan), (_, tik) = rows
    if velkan["tokens"] != tik["tokens"]:
        raise SystemExit("the token counts differ: %d != %d" % (velkan["tokens"], tik["tokens"]))
    print(
        "velkan: %.1fx tiktoken's throughput (goal 5x), %.2fx its memory (all processes)"
        % (tik["seconds"] / velkan["seconds"], velkan["sum_kb"] / tik["sum_kb"])
    )


if __name__ == "__main__":
    main()
