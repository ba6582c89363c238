"""In-process A/B of two velkan builds: the installed one ("new") against the
extension module of another build ("old"), both loaded into one process and
timed in alternation on the same documents:

    python benchmarks/ab.py OLD_SITE_DIR [--vocab cl100k_base] [--rows english,code]
                            [--rounds 15] [--new-first]

OLD_SITE_DIR holds the other build's `velkan` package (copy it out of a
venv's site-packages before rebuilding). Each row's documents (the B half of
coldwarm.py's 8 KB documents) are timed in chunks of eight, each chunk
`--rounds` times per build, and the best time of each chunk is kept: an
interruption by another process spoils a round, not the figure. Both builds
first make the A half's pass and must give the same ids on B, so the piece
cache already holds B's pieces when the timing starts: this measures the
hot path (the split, the whole-token walk, cache hits, the result), not the
encoder on pieces never seen (coldwarm.py's warm column). Whichever build runs
second in a round gains a little from the first one's work on the same
texts; `--new-first` swaps them, so run both ways.

`--unseen` times the warm regime instead: after the A half, each chunk of B
is encoded once by each build, the first time that build sees it (each build
has its own piece cache), so the encoder runs on every piece no earlier
document had; there are no rounds to keep the best of, so the figure is
noisier: run it several times. The builds take turns at going first, chunk by
chunk (the second finds the text in the cache). Encodes only (a count after them
would find B's pieces cached).

Times are the thread's CPU time: on a shared machine the wall clock also
counts the time other processes held the core.
"""

import argparse
import importlib
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import coldwarm  # noqa: E402


def load_old(site_dir):
    """velkan.bpe.openai of the build in site_dir, beside the installed one."""
    import velkan.bpe.openai  # noqa: F401  (the installed build first)

    saved = {k: v for k, v in sys.modules.items() if k.startswith("velkan.bpe")}
    for k in saved:
        del sys.modules[k]
    # The installed package's Python code, the other build's extension: the
    # package's search path points at site_dir while velkan.bpe is imported.
    import velkan

    package_path = list(velkan.__path__)
    velkan.__path__[:] = [os.path.join(site_dir, "velkan")]
    try:
        module = importlib.import_module("velkan.bpe")
    finally:
        velkan.__path__[:] = package_path
    old = sys.modules.get("velkan.bpe.openai") or module.openai
    sys.modules.update(saved)
    return old, saved["velkan.bpe.openai"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("old_site_dir")
    parser.add_argument("--vocab", default="cl100k_base")
    parser.add_argument("--rows", default=",".join(coldwarm.ROWS))
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--new-first", action="store_true")
    parser.add_argument("--cpu", type=int, default=0)
    parser.add_argument("--unseen", action="store_true", help="time B's first pass (warm)")
    args = parser.parse_args()
    os.sched_setaffinity(0, {args.cpu})
    old_openai, new_openai = load_old(args.old_site_dir)
    tools = {
        "old": getattr(old_openai, args.vocab)(),
        "new": getattr(new_openai, args.vocab)(),
    }
    if args.new_first:
        tools = {"new": tools["new"], "old": tools["old"]}
    rows = coldwarm.halves()
    for row in args.rows.split(","):
        a, b = rows[row]
        size = sum(len(d.encode("utf-8")) for d in b)
        chunks = [b[k : k + 8] for k in range(0, len(b), 8)]
        # A second kind would find B's pieces cached by the first.
        for kind in ("encode",) if args.unseen else ("encode", "count"):
            fns = {name: getattr(tok, kind) for name, tok in tools.items()}
            # Document by document, taking turns: the build that made its
            # pass over A last would find more of what it learned in the cache.
            for number, d in enumerate(a):
                for fn in list(fns.values())[:: -1 if number % 2 else 1]:
                    fn(d)
            if not args.unseen and [fns["old"](d) for d in b] != [fns["new"](d) for d in b]:
                sys.exit(f"{row}: the builds' {kind} results differ")
            total = dict.fromkeys(fns, 0.0)
            for number, chunk in enumerate(chunks):
                best = dict.fromkeys(fns, float("inf"))
                # A string keeps its UTF-8 form once asked for it: in a single
                # pass each build gets strings of its own.
                own = {name: [(d + ".")[:-1] for d in chunk] for name in fns}
                # Unseen, the second build finds the text (and the int objects
                # of its ids) in the cache: the builds take turns at going first.
                order = list(fns.items())
                if args.unseen and number % 2:
                    order.reverse()
                for _ in range(1 if args.unseen else args.rounds):
                    for name, fn in order:
                        t = time.thread_time()
                        for d in own[name]:
                            fn(d)
                        best[name] = min(best[name], time.thread_time() - t)
                for name in total:
                    total[name] += best[name]
            if args.unseen and [fns["old"](d) for d in b] != [fns["new"](d) for d in b]:
                sys.exit(f"{row}: the builds' {kind} results differ")
            old, new = total["old"], total["new"]
            print(
                f"{args.vocab} {row:13s} {kind:6s} old {size / old / 1e6:6.1f} "
                f"new {size / new / 1e6:6.1f} MB/s  {old / new:.2f}x",
                flush=True,
            )


if __name__ == "__main__":
    main()
