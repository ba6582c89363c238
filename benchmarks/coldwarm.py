"""Cold, warm, hot and long single-core throughput of velkan and its peers,
each tool in its own fresh processes pinned to one core:

    python benchmarks/coldwarm.py [--quick] [--processes N] [--tools A,B]
        [--regimes cold,warm,hot,long] [--rows english,short] [--json PATH]

The corpora are cut into documents of about 8 KB, dealt alternately into
halves A and B; short texts (20 to 100 bytes) likewise. *Cold* is the first
pass over B of every row in turn, right after the tokenizer is made. *Warm*
runs in another fresh process: for each row a pass over A, then the timed
pass over B, so a cache knows the language but has never seen those
documents. *Hot* is, in that process and right after the warm pass, a second
timed pass over the same B: texts seen before. *Long* runs in a third fresh
process: one text of about 4 MB (every corpus one after the other) encoded
right after the tokenizer is made (long cold), then again (long hot).
Every row's ids are hashed in every regime and compared with tiktoken's, so
an inexact peer is marked. The tools run one after another, interleaved
over N processes each (3; 1 with --quick); figures are medians of the
processes' CPU time (the core is shared with other work).
"velkan count" is velkan's count timed the same way in processes of its own;
its totals are compared with the number of tiktoken's ids.
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
ROWS = texts_mod.ALL_CORPORA + ("short",)
# Regimes timed per row, and the long text's two.
ROW_REGIMES = ("cold", "warm", "hot")
LONG_REGIMES = ("long cold", "long hot")
REGIMES = ("cold", "warm", "hot", "long")
LONG_BYTES = 4_000_000
# Which fresh process times which regimes.
PHASES = {"cold": ("cold",), "warm": ("warm", "hot"), "long": LONG_REGIMES}


def rss_bytes():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) * 1024
    return 0


def halves(rows=ROWS):
    """{row: (A, B)}: lists of texts dealt alternately. The short texts are
    cut from CORPORA alone, as before the later rows came."""
    names = [r for r in rows if r != "short"]
    corpora = texts_mod.load_corpora(names)
    out = {}
    for name, text in corpora.items():
        docs = texts_mod.documents({name: text}, size=8192)
        out[name] = (docs[0::2], docs[1::2])
    if "short" in rows:
        snippets = texts_mod.short_texts(texts_mod.load_corpora(), count=4000, seed=7)
        out["short"] = (snippets[0::2], snippets[1::2])
    return out


def make_peer(tool, vocab):
    import peers as peers_mod

    if tool.startswith("velkan"):
        return peers_mod.Velkan(vocab)
    cls = {c.name: c for c in (peers_mod.Tiktoken,) + peers_mod.OPTIONAL}[tool]
    return cls(vocab)


def digest(results):
    """(hash of the ids, number of ids); for counts the hash is None."""
    if all(isinstance(r, int) for r in results):
        return None, sum(results)
    h = hashlib.sha256()
    for r in results:
        h.update(repr(len(r)).encode())
        h.update(repr(list(r)).encode())
    return h.hexdigest()[:16], sum(len(r) for r in results)


def child(tool, vocab, cpu, phase, rows=ROWS, data=None, long_bytes=LONG_BYTES):
    """One fresh process's measures: {"rows": {row: {regime: {...}}}} for
    the cold or warm phase, {"long": {regime: {...}}} for the long one;
    each regime's CPU seconds, its ids' hash and their number. data (rows'
    (A, B) halves, or the long text) replaces the corpora in tests; cpu None
    leaves the process unpinned."""
    if cpu is not None:
        os.sched_setaffinity(0, {cpu})
    if data is None:
        data = texts_mod.long_text(long_bytes) if phase == "long" else halves(rows)
    rss_start = rss_bytes()
    t0 = time.perf_counter()
    peer = make_peer(tool, vocab)
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
        seconds = time.process_time() - t
        check, tokens = digest(out)
        return {"seconds": seconds, "check": check, "tokens": tokens}

    result = {"load_seconds": load_seconds, "rss_start": rss_start, "rss_loaded": rss_loaded}
    if phase == "long":
        size = len(data.encode("utf-8"))
        result["long"] = {"bytes": size}
        for regime in LONG_REGIMES:
            result["long"][regime] = one_pass([data])
    else:
        result["rows"] = {}
        for row in rows:
            a, b = data[row]
            entry = {"bytes": sum(len(d.encode("utf-8")) for d in b), "texts": len(b)}
            if phase == "warm":
                one_pass(a)
            for regime in PHASES[phase]:
                entry[regime] = one_pass(b)
            result["rows"][row] = entry
    result["rss_end"] = rss_bytes()
    return result


def collect(tools, vocabularies, processes, rows, regimes, log, long_bytes=LONG_BYTES):
    """{vocab: {tool: [one merged record per repetition]}}, each tool's
    phases in fresh processes pinned to one core, each repetition on the
    next core: with as many tools as an even number of cores, counting one
    core per tool put every tool on the same core in every repetition, and
    a core that the system uses more (interrupts, its own threads) then
    slowed one tool alone."""
    cpus = sorted(os.sched_getaffinity(0))
    env = dict(os.environ, RAYON_NUM_THREADS="1")
    phases = [p for p in PHASES if p in regimes or (p == "warm" and "hot" in regimes)]
    raw = {v: {t: [] for t in tools} for v in vocabularies}
    k = 0
    for rep in range(processes):
        for vocab in vocabularies:
            for tool in tools:
                cpu = cpus[(k + rep) % len(cpus)]
                k += 1
                done = {}
                for phase in phases:
                    command = [sys.executable, os.path.abspath(__file__), "--child"]
                    command += [tool, vocab, str(cpu), phase, ",".join(rows), str(long_bytes)]
                    p = subprocess.run(command, capture_output=True, text=True, env=env)
                    if p.returncode != 0:
                        if rep == 0:
                            log(
                                "  %s unavailable for %s: %s"
                                % (tool, vocab, p.stderr.strip()[-200:])
                            )
                        break
                    done[phase] = json.loads(p.stdout.strip().splitlines()[-1])
                else:
                    raw[vocab][tool].append(merge(done))
    return raw


def merge(done):
    """One record of a repetition's phases (each a child's result)."""
    first = next(iter(done.values()))
    merged = {k: first[k] for k in ("load_seconds", "rss_loaded")}
    # The end of the row passes, as before the long text came; that one's
    # own (the text and its million ids are held) beside it.
    rows_phase = done.get("warm") or done.get("cold") or first
    merged["rss_end"] = rows_phase["rss_end"]
    if "long" in done:
        merged["rss_long_end"] = done["long"]["rss_end"]
    merged["rows"] = {}
    for d in done.values():
        for row, entry in d.get("rows", {}).items():
            merged["rows"].setdefault(row, {}).update(entry)
        if "long" in d:
            merged["long"] = d["long"]
    return merged


def _same(check, ref):
    """Whether one regime's result agrees with tiktoken's (the count tool
    has no ids, only their number)."""
    if check["check"] is None:
        return check["tokens"] == ref["tokens"]
    return check["check"] == ref["check"]


def summarize(raw, rows, regimes):
    """{vocab: {tool: {...medians, MB/s and exactness per regime...}}}"""
    row_regimes = [r for r in ROW_REGIMES if r in regimes]
    long_regimes = list(LONG_REGIMES) if "long" in regimes else []
    out = {}
    for vocab, by_tool in raw.items():
        ref = (by_tool.get("tiktoken") or [None])[0]
        out[vocab] = {}
        for tool, runs in by_tool.items():
            if not runs:
                continue
            entry = {
                "load_seconds": statistics.median(r["load_seconds"] for r in runs),
                "rss_loaded": statistics.median(r["rss_loaded"] for r in runs),
                "rss_end": statistics.median(r["rss_end"] for r in runs),
                "rows": {},
                "exact_regimes": {},
            }
            if all("rss_long_end" in r for r in runs):
                entry["rss_long_end"] = statistics.median(r["rss_long_end"] for r in runs)

            def rate(records, regime, size):
                return (
                    size / max(statistics.median(r[regime]["seconds"] for r in records), 1e-9) / 1e6
                )

            def agrees(records, ref_record, regime):
                # Every process the same result, and tiktoken's.
                if ref_record is None:
                    return None
                return all(_same(r[regime], ref_record[regime]) for r in records)

            exact = {}
            for row in rows if row_regimes else ():
                rr = [r["rows"][row] for r in runs]
                cell = {"bytes": rr[0]["bytes"], "texts": rr[0]["texts"]}
                for regime in row_regimes:
                    cell[regime + "_mb_s"] = rate(rr, regime, cell["bytes"])
                    ok = agrees(rr, ref and ref["rows"][row], regime)
                    if ok is not None:
                        exact[regime] = exact.get(regime, True) and ok
                entry["rows"][row] = cell
            if long_regimes:
                ll = [r["long"] for r in runs]
                entry["long"] = {"bytes": ll[0]["bytes"]}
                for regime in long_regimes:
                    key = regime.replace(" ", "_") + "_mb_s"
                    entry["long"][key] = rate(ll, regime, ll[0]["bytes"])
                    ok = agrees(ll, ref and ref["long"], regime)
                    if ok is not None:
                        exact[regime] = ok
            entry["exact_regimes"] = exact
            entry["exact"] = all(exact.values()) if exact else None
            out[vocab][tool] = entry
        add_ratios(out[vocab])
    return out


def _figures(entry):
    """{(row, regime key): MB/s} of one tool, the long text as row "long"."""
    out = {}
    for row, cell in entry["rows"].items():
        for key, value in cell.items():
            if key.endswith("_mb_s"):
                out[(row, key)] = value
    for key, value in entry.get("long", {}).items():
        if key.endswith("_mb_s"):
            out[("long", key)] = value
    return out


def _regime_of(key):
    return key[: -len("_mb_s")].replace("_", " ")


def _in_regime_order(keys):
    # A JSON file keeps its keys sorted; tables read cold, warm, hot.
    order = ROW_REGIMES + LONG_REGIMES
    return sorted(keys, key=lambda k: order.index(_regime_of(k)) if _regime_of(k) in order else 99)


def add_ratios(by_tool):
    """Each tool's figures over the fastest exact peer's (velkan's tools are
    no peers) in the same row and regime: entry["ratios"][row][key]."""
    peers = [t for t in by_tool if not t.startswith("velkan")]
    for tool, entry in by_tool.items():
        ratios = {}
        for (row, key), value in _figures(entry).items():
            regime = _regime_of(key)
            exact = [t for t in peers if t != tool and _exact(by_tool[t], regime)]
            best = max((_figures(by_tool[t]).get((row, key), 0) for t in exact), default=0)
            if best:
                ratios.setdefault(row, {})[key] = value / best
        entry["ratios"] = ratios


def _exact(entry, regime):
    """Exact in that regime, or at large for results of earlier versions;
    unknown (no tiktoken in the run) counts as exact."""
    ok = entry.get("exact_regimes", {}).get(regime, entry.get("exact"))
    return ok is not False


def _mark(entry, regime):
    return "" if _exact(entry, regime) else "*"


def _line(label, by_tool, figures, keys):
    """One table line: each tool's figures for keys (MB/s, * where inexact),
    then velkan's and velkan count's ratios to the fastest exact peer."""
    cells = []
    for entry in by_tool.values():
        values = figures(entry)
        cells.append(" / ".join("%.1f%s" % (values[k], _mark(entry, _regime_of(k))) for k in keys))
    ratios = []
    for tool in ("velkan", "velkan count"):
        r = by_tool.get(tool, {}).get("ratios", {}).get(label, {})
        ratios.append(", ".join("%.2fx" % r[k] if k in r else "-" for k in keys))
    return "| %s | %s | %s |" % (label, " | ".join(cells), " | ".join(ratios))


def table(results):
    lines = []
    for vocab, by_tool in results.items():
        tools = list(by_tool)
        if not tools:
            continue
        first = by_tool[tools[0]]
        rows = list(first["rows"])
        keys = [k for k in first["rows"][rows[0]] if k.endswith("_mb_s")] if rows else []
        keys = _in_regime_order(keys)
        names = " / ".join(_regime_of(k) for k in keys) or "long"
        lines.append("\n%s: MB/s %s (single core; * = ids differ from tiktoken)" % (vocab, names))
        lines.append(
            "| row | " + " | ".join(tools) + " | velkan vs fastest peer"
            " | velkan count vs fastest peer |"
        )
        lines.append("|---" * (len(tools) + 3) + "|")
        for row in rows:
            lines.append(_line(row, by_tool, lambda e, r=row: e["rows"][r], keys))
        if "long" in first:
            long_keys = _in_regime_order(k for k in first["long"] if k.endswith("_mb_s"))
            text = _line("long", by_tool, lambda e: e["long"], long_keys)
            label = "long (%.1f MB; cold / hot)" % (first["long"]["bytes"] / 1e6)
            lines.append(text.replace("long", label, 1))
        lines.append(
            "| RSS MB loaded / end | "
            + " | ".join(
                "%.0f / %.0f" % (by_tool[t]["rss_loaded"] / 1e6, by_tool[t]["rss_end"] / 1e6)
                for t in tools
            )
            + " | | |"
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
            peers = [
                t
                for t in by_tool
                if not t.startswith("velkan") and by_tool[t]["exact"] in (True, None)
            ]
            if "velkan" not in by_tool or "velkan count" not in by_tool or not peers:
                continue
            if row not in by_tool["velkan"]["rows"]:
                continue
            cell = by_tool["velkan"]["rows"][row]
            if "cold_mb_s" not in cell or "warm_mb_s" not in cell:
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
    return "\n".join(lines) if len(lines) > 2 else ""


def chart(results, path):
    """Warm MB/s of every tool on every row, one panel per vocabulary, with
    each tool's cold figure as a dot on its bar (whichever of the two was
    run; hot when neither was)."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, axes = plt.subplots(1, len(results), figsize=(13, 4.2), dpi=72, sharey=True)
    axes = axes if len(results) > 1 else [axes]
    for ax, (vocab, by_tool) in zip(axes, results.items()):
        tools = [t for t in TOOLS if t in by_tool] + [t for t in by_tool if t not in TOOLS]
        rows = list(by_tool[tools[0]]["rows"])
        have = set(by_tool[tools[0]]["rows"][rows[0]]) if rows else set()
        bar_key = next((k for k in ("warm_mb_s", "hot_mb_s", "cold_mb_s") if k in have), None)
        dot_key = "cold_mb_s" if "cold_mb_s" in have and bar_key != "cold_mb_s" else None
        if bar_key is None:
            continue
        width = 0.8 / len(tools)
        for k, tool in enumerate(tools):
            xs = [i + (k - (len(tools) - 1) / 2) * width for i in range(len(rows))]
            cells = by_tool[tool]["rows"]
            label = tool + ("" if by_tool[tool]["exact"] in (True, None) else " (inexact)")
            bars = ax.bar(xs, [cells[r][bar_key] for r in rows], width, label=label)
            if dot_key:
                ax.plot(xs, [cells[r][dot_key] for r in rows], ".", color="black", markersize=4)
            if tool == "velkan":
                for bar in bars:
                    bar.set_edgecolor("black")
        ax.set_xticks(range(len(rows)))
        ax.set_xticklabels(rows, rotation=20, fontsize=8)
        title = "%s: MB/s %s (bars)" % (vocab, _regime_of(bar_key))
        if dot_key:
            title += " and cold (dots)"
        ax.set_title(title + ", one core", fontsize=9)
        ax.grid(axis="y", alpha=0.3)
    axes[0].set_ylabel("MB/s (higher is better)")
    axes[0].legend(fontsize=7, ncol=2)
    fig.tight_layout()
    fig.savefig(path)
    plt.close(fig)


def combine(runs):
    """Results of several runs in one: each figure the median of the runs'
    (on a shared machine one run can catch a busy minute). Runs of earlier
    versions (cold and warm only) combine too: a figure is the median of
    the runs that have it."""
    out = {}
    for vocab in runs[0]:
        out[vocab] = {}
        tools = [t for t in TOOLS if t in runs[0][vocab]]
        for tool in tools + [t for t in runs[0][vocab] if t not in tools]:
            entry = runs[0][vocab][tool]
            entries = [r[vocab][tool] for r in runs if tool in r.get(vocab, {})]
            med = lambda key, es=entries: statistics.median(e[key] for e in es)  # noqa: E731
            combined = {k: med(k) for k in ("load_seconds", "rss_loaded", "rss_end")}
            if all("rss_long_end" in e for e in entries):
                combined["rss_long_end"] = med("rss_long_end")
            combined["exact"] = all(e["exact"] in (True, None) for e in entries)
            regimes = {}
            for e in entries:
                for regime, ok in e.get("exact_regimes", {}).items():
                    regimes[regime] = regimes.get(regime, True) and ok
            combined["exact_regimes"] = regimes

            def medians(cell, part):
                out = dict(cell)
                for key in cell:
                    if key.endswith("_mb_s"):
                        values = [p[key] for p in part if key in p]
                        out[key] = statistics.median(values)
                return out

            combined["rows"] = {
                row: medians(cell, [e["rows"][row] for e in entries if row in e["rows"]])
                for row, cell in entry["rows"].items()
            }
            if "long" in entry:
                combined["long"] = medians(
                    entry["long"], [e["long"] for e in entries if "long" in e]
                )
            out[vocab][tool] = combined
        add_ratios(out[vocab])
    return out


def _subset(text, known, what):
    chosen = [x for x in text.split(",") if x]
    unknown = [x for x in chosen if x not in known]
    if unknown:
        raise SystemExit(
            "unknown %s %s: expected some of %s" % (what, ", ".join(unknown), ", ".join(known))
        )
    return [x for x in known if x in chosen]


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if argv and argv[0] == "--child":
        tool, vocab, cpu, phase = argv[1:5]
        rows = tuple(argv[5].split(",")) if len(argv) > 5 else ROWS
        long_bytes = int(argv[6]) if len(argv) > 6 else LONG_BYTES
        print(json.dumps(child(tool, vocab, int(cpu), phase, rows, long_bytes=long_bytes)))
        return
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="one process per tool")
    parser.add_argument("--processes", type=int, default=None)
    parser.add_argument("--tools", default=",".join(TOOLS))
    parser.add_argument(
        "--regimes", default=",".join(REGIMES), help="some of %s" % ",".join(REGIMES)
    )
    parser.add_argument("--rows", default=",".join(ROWS), help="some of %s" % ",".join(ROWS))
    parser.add_argument(
        "--vocabularies", default=",".join(VOCABULARIES), help="some of %s" % ",".join(VOCABULARIES)
    )
    parser.add_argument(
        "--long-bytes", type=int, default=LONG_BYTES, help="size of the long regime's text"
    )
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
        regimes = _subset(args.regimes, REGIMES, "regimes")
        rows = _subset(args.rows, ROWS, "rows")
        vocabularies = _subset(args.vocabularies, VOCABULARIES, "vocabularies")
        tools = args.tools.split(",")
        raw = collect(tools, vocabularies, processes, rows, regimes, log, args.long_bytes)
        results = summarize(raw, rows, regimes)
    if args.json:
        with open(args.json, "w") as f:
            json.dump(results, f, indent=1, sort_keys=True)
    if args.chart:
        try:
            chart(results, args.chart)
        except ImportError:
            log("matplotlib is not installed: no chart")
    print(table(results))
    text = goals(results)
    if text:
        print()
        print(text)


if __name__ == "__main__":
    main()
