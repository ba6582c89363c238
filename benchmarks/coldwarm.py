"""Cold and warm single-core throughput of velkan and its peers, each tool in
its own fresh process pinned to one core:

    python benchmarks/coldwarm.py [--quick] [--processes N] [--json PATH]

The corpora are cut into documents of about 8 KB, dealt alternately into
halves A and B; short texts (20 to 100 bytes) likewise. *Cold* is the first
pass over B of every row in turn, right after the tokenizer is made. *Warm*
runs in another fresh process: for each row a pass over A, then the timed
pass over B, so a cache knows the language but has never seen those
documents. Every row's ids are hashed and compared with
tiktoken's, so an inexact peer is marked. The tools run one after another,
interleaved over N processes each (3; 1 with --quick); figures are medians
of the processes' CPU time (the core is shared with other work).
"velkan count" is velkan's count timed the same way in a process of its own.
Resident memory is read after loading and after the passes.
"""

import argparse
import hashlib
import json
import os
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import texts as texts_mod  # noqa: E402

VOCABULARIES = ("cl100k_base", "o200k_base")
TOOLS = ("velkan", "velkan count", "tiktoken", "gigatoken", "splintr-rs", "riptoken")
ROWS = texts_mod.CORPORA + ("short",)


def rss_bytes():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    return 0


def halves():
    """{row: (A, B)}: lists of texts dealt alternately."""
    corpora = texts_mod.load_corpora()
    out = {}
    for name, text in corpora.items():
        docs = texts_mod.documents({name: text}, size=8192)
        out[name] = (docs[0::2], docs[1::2])
    snippets = texts_mod.short_texts(corpora, count=4000, seed=7)
    out["short"] = (snippets[0::2], snippets[1::2])
    return out


def child(tool, vocab, cpu, phase):
    os.sched_setaffinity(0, {cpu})
    import peers as peers_mod

    rows = halves()
    rss_start = rss_bytes()
    t0 = time.perf_counter()
    if tool.startswith("velkan"):
        peer = peers_mod.Velkan(vocab)
    else:
        cls = {c.name: c for c in (peers_mod.Tiktoken,) + peers_mod.OPTIONAL}[tool]
        peer = cls(vocab)
    load_seconds = time.perf_counter() - t0
    rss_loaded = rss_bytes()
    fn = peer.count if tool == "velkan count" else peer.encode

    def one_pass(docs):
        # CPU time of the process: on a shared machine the wall clock also
        # counts the time other processes held the core.
        out = []
        t = time.process_time()
        for d in docs:
            out.append(fn(d))
        return time.process_time() - t, out

    def digest(results):
        h = hashlib.sha256()
        for r in results:
            h.update(repr(r if isinstance(r, int) else len(r)).encode())
            if not isinstance(r, int):
                h.update(repr(list(r)).encode())
        return h.hexdigest()[:16]

    result = {"load_seconds": load_seconds, "rss_start": rss_start, "rss_loaded": rss_loaded}
    sizes = {row: sum(len(d.encode("utf-8")) for d in b) for row, (a, b) in rows.items()}
    timed = {}
    for row in ROWS:
        if phase == "warm":
            one_pass(rows[row][0])
        seconds, out = one_pass(rows[row][1])
        timed[row] = (seconds, digest(out) if tool != "velkan count" else sum(out))
    result["rows"] = {
        row: {
            "bytes": sizes[row],
            "texts": len(rows[row][1]),
            phase: timed[row][0],
            "check": timed[row][1],
        }
        for row in ROWS
    }
    result["rss_end"] = rss_bytes()
    print(json.dumps(result))


def run(tools, processes, log):
    """{vocab: {tool: {...medians...}}}"""
    cpus = sorted(os.sched_getaffinity(0))
    env = dict(os.environ, RAYON_NUM_THREADS="1")
    raw = {v: {t: [] for t in tools} for v in VOCABULARIES}
    k = 0
    for rep in range(processes):
        for vocab in VOCABULARIES:
            for tool in tools:
                cpu = cpus[k % len(cpus)]
                k += 1
                phases = {}
                for phase in ("cold", "warm"):
                    command = [sys.executable, os.path.abspath(__file__), "--child"]
                    command += [tool, vocab, str(cpu), phase]
                    p = subprocess.run(command, capture_output=True, text=True, env=env)
                    if p.returncode != 0:
                        if rep == 0:
                            log(
                                "  %s unavailable for %s: %s"
                                % (tool, vocab, p.stderr.strip()[-200:])
                            )
                        break
                    phases[phase] = json.loads(p.stdout.strip().splitlines()[-1])
                else:
                    cold, warm = phases["cold"], phases["warm"]
                    for row in ROWS:
                        if warm["rows"][row]["check"] != cold["rows"][row]["check"]:
                            cold["rows"][row]["check"] = "differs between processes"
                        cold["rows"][row]["warm"] = warm["rows"][row]["warm"]
                    cold["rss_end"] = warm["rss_end"]
                    raw[vocab][tool].append(cold)
    out = {}
    for vocab, by_tool in raw.items():
        ref = by_tool.get("tiktoken") or []
        ref_check = {row: ref[0]["rows"][row]["check"] for row in ROWS} if ref else {}
        velkan_counts = None
        out[vocab] = {}
        for tool, runs in by_tool.items():
            if not runs:
                continue
            entry = {
                "load_seconds": statistics.median(r["load_seconds"] for r in runs),
                "rss_loaded": statistics.median(r["rss_loaded"] for r in runs),
                "rss_end": statistics.median(r["rss_end"] for r in runs),
                "rows": {},
            }
            exact = True
            for row in ROWS:
                rr = [r["rows"][row] for r in runs]
                size = rr[0]["bytes"]
                checks = {r["check"] for r in rr}
                if tool == "velkan count":
                    velkan_counts = checks
                elif ref_check and checks != {ref_check[row]}:
                    exact = False
                entry["rows"][row] = {
                    "bytes": size,
                    "texts": rr[0]["texts"],
                    "cold_mb_s": size / statistics.median(r["cold"] for r in rr) / 1e6,
                    "warm_mb_s": size / statistics.median(r["warm"] for r in rr) / 1e6,
                }
            entry["exact"] = exact
            out[vocab][tool] = entry
        del velkan_counts
    return out


def table(results):
    lines = []
    for vocab, by_tool in results.items():
        lines.append("\n%s: MB/s cold / warm (single core; * = ids differ from tiktoken)" % vocab)
        tools = list(by_tool)
        lines.append("| row | " + " | ".join(tools) + " | velkan vs fastest peer (cold, warm) |")
        lines.append("|---" * (len(tools) + 2) + "|")
        for row in ROWS:
            cells = []
            for t in tools:
                e = by_tool[t]
                r = e["rows"][row]
                mark = "" if e["exact"] else "*"
                cells.append("%.1f / %.1f%s" % (r["cold_mb_s"], r["warm_mb_s"], mark))
            peers = [t for t in tools if not t.startswith("velkan") and by_tool[t]["exact"]]
            ratio = ""
            if "velkan" in by_tool and peers:
                v = by_tool["velkan"]["rows"][row]
                best_c = max(by_tool[t]["rows"][row]["cold_mb_s"] for t in peers)
                best_w = max(by_tool[t]["rows"][row]["warm_mb_s"] for t in peers)
                ratio = "%.2fx, %.2fx" % (v["cold_mb_s"] / best_c, v["warm_mb_s"] / best_w)
            lines.append("| %s | %s | %s |" % (row, " | ".join(cells), ratio))
        lines.append(
            "| RSS MB loaded / end | "
            + " | ".join(
                "%.0f / %.0f" % (by_tool[t]["rss_loaded"] / 1e6, by_tool[t]["rss_end"] / 1e6)
                for t in tools
            )
            + " | |"
        )
    return "\n".join(lines)


def goals(results):
    """velkan against the fastest exact peer, row by row, with the goals:
    encode at or above the peer's encode cold and warm, count at least 1.5x
    the peer's warm encode."""
    lines = [
        "| row | vocabulary | encode cold | encode warm | count warm vs peer's warm encode"
        " | met (>= 1x, >= 1x, >= 1.5x) |",
        "|---|---|---|---|---|---|",
    ]
    for row in ROWS:
        for vocab, by_tool in results.items():
            peers = [t for t in by_tool if not t.startswith("velkan") and by_tool[t]["exact"]]
            if "velkan" not in by_tool or "velkan count" not in by_tool or not peers:
                continue
            r = lambda t, k, b=by_tool, w=row: b[t]["rows"][w][k]  # noqa: E731
            cold_peer = max(peers, key=lambda t: r(t, "cold_mb_s"))
            warm_peer = max(peers, key=lambda t: r(t, "warm_mb_s"))
            cold = r("velkan", "cold_mb_s") / r(cold_peer, "cold_mb_s")
            warm = r("velkan", "warm_mb_s") / r(warm_peer, "warm_mb_s")
            count = r("velkan count", "warm_mb_s") / r(warm_peer, "warm_mb_s")
            met = ["yes" if x >= g else "**no**" for x, g in ((cold, 1), (warm, 1), (count, 1.5))]
            lines.append(
                "| %s | %s | %.2fx (%s) | %.2fx (%s) | %.2fx | %s |"
                % (row, vocab, cold, cold_peer, warm, warm_peer, count, ", ".join(met))
            )
    return "\n".join(lines)


def chart(results, path):
    """Warm MB/s of every tool on every row, one panel per vocabulary, with
    each tool's cold figure as a dot on its bar."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, axes = plt.subplots(1, len(results), figsize=(12, 4.2), dpi=72, sharey=True)
    axes = axes if len(results) > 1 else [axes]
    for ax, (vocab, by_tool) in zip(axes, results.items()):
        tools = [t for t in TOOLS if t in by_tool] + [t for t in by_tool if t not in TOOLS]
        width = 0.8 / len(tools)
        for k, tool in enumerate(tools):
            xs = [i + (k - (len(tools) - 1) / 2) * width for i in range(len(ROWS))]
            rows = by_tool[tool]["rows"]
            label = tool + ("" if by_tool[tool]["exact"] else " (inexact)")
            bars = ax.bar(xs, [rows[r]["warm_mb_s"] for r in ROWS], width, label=label)
            ax.plot(xs, [rows[r]["cold_mb_s"] for r in ROWS], ".", color="black", markersize=4)
            if tool == "velkan":
                for bar in bars:
                    bar.set_edgecolor("black")
        ax.set_xticks(range(len(ROWS)))
        ax.set_xticklabels(ROWS, rotation=20, fontsize=8)
        ax.set_title("%s: MB/s warm (bars) and cold (dots), one core" % vocab, fontsize=9)
        ax.grid(axis="y", alpha=0.3)
    axes[0].set_ylabel("MB/s (higher is better)")
    axes[0].legend(fontsize=7, ncol=2)
    fig.tight_layout()
    fig.savefig(path)
    plt.close(fig)


def combine(runs):
    """Results of several runs in one: each figure the median of the runs'
    (on a shared machine one run can catch a busy minute)."""
    out = {}
    for vocab in runs[0]:
        out[vocab] = {}
        tools = [t for t in TOOLS if t in runs[0][vocab]]
        for tool in tools + [t for t in runs[0][vocab] if t not in tools]:
            entry = runs[0][vocab][tool]
            entries = [r[vocab][tool] for r in runs if tool in r.get(vocab, {})]
            med = lambda key, es=entries: statistics.median(e[key] for e in es)  # noqa: E731
            combined = {k: med(k) for k in ("load_seconds", "rss_loaded", "rss_end")}
            combined["exact"] = all(e["exact"] for e in entries)
            combined["rows"] = {
                row: dict(
                    entry["rows"][row],
                    cold_mb_s=statistics.median(e["rows"][row]["cold_mb_s"] for e in entries),
                    warm_mb_s=statistics.median(e["rows"][row]["warm_mb_s"] for e in entries),
                )
                for row in entry["rows"]
            }
            out[vocab][tool] = combined
    return out


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if argv and argv[0] == "--child":
        child(argv[1], argv[2], int(argv[3]), argv[4])
        return
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="one process per tool")
    parser.add_argument("--processes", type=int, default=None)
    parser.add_argument("--tools", default=",".join(TOOLS))
    parser.add_argument("--json", default=None, help="write the results here")
    parser.add_argument("--chart", default=None, help="draw the results here (PNG; matplotlib)")
    parser.add_argument(
        "--combine", nargs="+", metavar="JSON", help="no run: the medians of earlier --json files"
    )
    args = parser.parse_args(argv)
    processes = args.processes or (1 if args.quick else 3)
    log = lambda *a: print(*a, file=sys.stderr, flush=True)  # noqa: E731
    if args.combine:
        runs = []
        for path in args.combine:
            with open(path) as f:
                runs.append(json.load(f))
        results = combine(runs)
    else:
        results = run(args.tools.split(","), processes, log)
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=1, sort_keys=True)
    if args.chart:
        try:
            chart(results, args.chart)
        except ImportError:
            log("matplotlib is not installed: no chart")
    print(table(results))
    print()
    print(goals(results))


if __name__ == "__main__":
    main()
