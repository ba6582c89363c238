"""Turns the results of run.py into a Markdown table, a PNG chart and the
README's benchmark section."""

import os
import re

VOCABS = ("cl100k_base", "o200k_base")
CORPUS_LABEL = {
    "english": "English prose",
    "code": "source code",
    "multilingual": "multilingual",
    "docs": "manuals, 15 languages",
    "scripts": "Perl, shell, C++",
    "typographic": "typographic English",
}
# The later corpora are held to the target of the earlier one they resemble.
CORPUS_TARGET = {
    "english": 10.0,
    "code": 6.0,
    "multilingual": 4.0,
    "docs": 4.0,
    "scripts": 6.0,
    "typographic": 10.0,
}


def _ratio_rows(v):
    """(measure, target text, ratio, detail, met) for one vocabulary."""
    rows = []
    tp = v.get("throughput", {})
    for corpus, target in CORPUS_TARGET.items():
        if corpus not in tp:
            continue
        m = tp[corpus]["mb_per_s"]
        for op, key in (("encode", "velkan"), ("count", "velkan count")):
            ratio = m[key] / m["tiktoken"]
            rows.append(
                (
                    "%s, %s" % (op, CORPUS_LABEL[corpus]),
                    ">= %gx" % target,
                    ratio,
                    "%.1f vs %.1f MB/s" % (m[key], m["tiktoken"]),
                    ratio >= target,
                )
            )
    if "short" in v:
        us = v["short"]["us_per_call"]
        ratio = us["tiktoken"] / us["velkan"]
        rows.append(
            (
                "short texts (%d-byte mean), per call" % round(v["short"]["mean_bytes"]),
                ">= 5x",
                ratio,
                "%.2f vs %.2f us" % (us["velkan"], us["tiktoken"]),
                ratio >= 5,
            )
        )
    if "batch" in v:
        b = v["batch"]["mb_per_s"]
        ratio = b["velkan parallel"] / b["velkan serial"]
        rows.append(
            (
                "encode_batch_parallel vs own single thread",
                ">= 1.8x",
                ratio,
                "%.1f vs %.1f MB/s" % (b["velkan parallel"], b["velkan serial"]),
                ratio >= 1.8,
            )
        )
        for key in ("tiktoken encode_batch", "tiktoken encode_ordinary_batch"):
            ratio = b["velkan parallel"] / b[key]
            rows.append(
                (
                    "encode_batch_parallel vs %s, %d threads" % (key, v["batch"]["threads"]),
                    "> 1x",
                    ratio,
                    "%.1f vs %.1f MB/s" % (b["velkan parallel"], b[key]),
                    ratio > 1,
                )
            )
    if "scaling" in v:
        worst, where = _worst_adversarial(v["scaling"])
        rows.append(
            (
                "adversarial time/byte vs English prose, worst size",
                "<= 3x",
                worst,
                where,
                worst <= 3,
            )
        )
        growth, kind = _tiktoken_growth(v["scaling"])
        rows.append(("tiktoken's own growth of time/byte (for contrast)", "-", growth, kind, None))
    if "coldstart" in v:
        c = v["coldstart"]
        for key, target in (("velkan", 1.0), ("velkan (images)", 0.3)):
            ratio = c[key]["total_s"] / c["tiktoken"]["total_s"]
            label = "without images" if key == "velkan" else "with images"
            rows.append(
                (
                    "cold start %s (lower is better)" % label,
                    "<= %gx" % target,
                    ratio,
                    "%.0f vs %.0f ms" % (c[key]["total_s"] * 1e3, c["tiktoken"]["total_s"] * 1e3),
                    ratio <= target,
                )
            )
        mb = lambda d: d["rss_loaded"] / 2**20  # noqa: E731
        rows.append(
            (
                "resident memory after loading (lower is better)",
                "-",
                mb(c["velkan (images)"]) / mb(c["tiktoken"]),
                "%.0f (built %.0f) vs %.0f MB"
                % (mb(c["velkan (images)"]), mb(c["velkan"]), mb(c["tiktoken"])),
                None,
            )
        )
    return rows


def _worst_adversarial(scaling):
    english = scaling["English prose"]["velkan"]
    worst, where = 0.0, ""
    for kind, row in _kinds(scaling):
        if kind == "English prose":
            continue
        for size, t in row["velkan"].items():
            r = t / english[size]
            if r > worst:
                worst, where = r, "%s at %s" % (kind, _size(int(size)))
    return worst, where


def _tiktoken_growth(scaling):
    best, label = 0.0, ""
    for kind, row in _kinds(scaling):
        t = {n: x for n, x in row.get("tiktoken", {}).items() if x is not None}
        if len(t) < 2:
            continue
        sizes = sorted(t, key=int)
        g = t[sizes[-1]] / t[sizes[0]]
        if g > best:
            best, label = g, "%s, %s to %s" % (kind, _size(int(sizes[0])), _size(int(sizes[-1])))
    return best, label


def _kinds(scaling):
    return [(k, v) for k, v in scaling.items() if k != "failures"]


def _size(n):
    return "%d MB" % (n >> 20) if n >= 1 << 20 else "%d KB" % (n >> 10)


def _mark(met):
    return "" if met is None else (" yes" if met else " **no**")


def table(results):
    m = results["machine"]
    load = ""
    if "load_average" in m:
        load = "; load average %.1f at the start, %.1f at the end (other work on the machine)" % (
            m["load_average"],
            m.get("load_average_end", m["load_average"]),
        )
    lines = [
        "Machine: %s, %s cores, %s, Python %s; peers %s; velkan %s; %s%s%s."
        % (
            m["cpu"],
            m["cores"],
            m["system"],
            m["python"],
            ", ".join("%s %s" % kv for kv in sorted(m["peers"].items())),
            m["commit"],
            m["date"],
            load,
            " (quick run)" if results.get("quick") else "",
        )
    ]
    lines.append("")
    lines.append(
        "Ratios to tiktoken, single core unless noted, same run, medians of "
        "interleaved repeats. *met* compares with the target."
    )
    lines.append("")
    lines.append("| measure | target | cl100k_base | met | o200k_base | met |")
    lines.append("|---|---|---|---|---|---|")
    per_vocab = [
        _ratio_rows(results["vocabularies"][v]) for v in VOCABS if v in results["vocabularies"]
    ]
    for i, row in enumerate(per_vocab[0]):
        cells = [row[0], row[1]]
        for rows in per_vocab:
            r = rows[i]
            cells.append("%.2fx (%s)" % (r[2], r[3]))
            cells.append(_mark(r[4]).strip() or "-")
        lines.append("| " + " | ".join(cells) + " |")

    # Absolute single-text throughput of every peer.
    lines.append("")
    lines.append(
        "Single-text encode throughput, MB/s (velkan count in the last column; "
        "an inexact peer is marked *):"
    )
    lines.append("")
    for vocab in VOCABS:
        v = results["vocabularies"].get(vocab, {})
        if "throughput" not in v:
            continue
        names = [k for k in next(iter(v["throughput"].values()))["mb_per_s"] if k != "velkan count"]
        header = [vocab] + [n + ("" if v["exact"].get(n, True) else "*") for n in names]
        lines.append("| " + " | ".join(header + ["velkan count"]) + " |")
        lines.append("|" + "---|" * (len(header) + 1))
        for corpus, d in v["throughput"].items():
            cells = [CORPUS_LABEL[corpus]] + ["%.1f" % d["mb_per_s"][n] for n in names]
            cells.append("%.1f" % d["mb_per_s"]["velkan count"])
            lines.append("| " + " | ".join(cells) + " |")
        lines.append("")

    # Linear scaling: velkan's time per byte on adversarial texts.
    for vocab in VOCABS:
        v = results["vocabularies"].get(vocab, {})
        if "scaling" not in v:
            continue
        s = v["scaling"]
        sizes = sorted(s["English prose"]["velkan"], key=int)
        lines.append(
            "Time per byte as a text grows, %s: velkan ns/B (tiktoken ns/B; "
            "- where one call took over the budget):" % vocab
        )
        lines.append("")
        lines.append("| text | " + " | ".join(_size(int(n)) for n in sizes) + " |")
        lines.append("|---|" + "---|" * len(sizes))
        for kind, row in _kinds(s):
            cells = [kind]
            for n in sizes:
                t = row["tiktoken"].get(n, "-")
                t = "failed" if t is None else t if t == "-" else "%.0f" % (t * 1e9)
                cells.append("%.1f (%s)" % (row["velkan"][n] * 1e9, t))
            lines.append("| " + " | ".join(cells) + " |")
        lines.append("")
        for failure in s.get("failures", []):
            lines.append("tiktoken failed: " + failure.split(": ", 1)[1] + ".")
            lines.append("")
    return "\n".join(lines).rstrip() + "\n"


def chart(results, path):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, axes = plt.subplots(1, 2, figsize=(11, 4.8), dpi=72, gridspec_kw={"width_ratios": [3, 2]})
    ax = axes[0]
    labels, series = None, []
    for vocab in VOCABS:
        rows = [
            r
            for r in _ratio_rows(results["vocabularies"][vocab])
            if r[1] != "-" and "cold" not in r[0]
        ]
        labels = [
            r[0]
            .replace("encode_batch_parallel", "parallel batch")
            .replace(", per call", "")
            .replace(" vs own single thread", " / own serial (not tiktoken)")
            .replace("tiktoken encode_ordinary_batch", "tt ordinary_batch")
            .replace("tiktoken encode_batch", "tt encode_batch")
            .replace(
                "adversarial time/byte vs English prose, worst size",
                "adversarial t/B / English t/B (lower)",
            )
            for r in rows
        ]
        series.append(([r[2] for r in rows], [float(r[1].split()[1].rstrip("x")) for r in rows]))
    y = range(len(labels))
    if not labels:  # a run of --only measures without ratio rows
        ax.axis("off")
    for i, (vocab, (vals, _targets)) in enumerate(zip(VOCABS, series)):
        ax.barh([k + (i - 0.5) * 0.38 for k in y], vals, height=0.38, label=vocab)
    if labels:
        ax.scatter(
            series[0][1], list(y), marker="|", s=200, color="black", label="target", zorder=3
        )
        ax.set_yticks(list(y))
        ax.set_yticklabels(labels, fontsize=8)
        ax.invert_yaxis()
        ax.set_xscale("log")
        ax.set_xlabel("ratio (x), target marked |")
        ax.legend(fontsize=8, loc="upper center", bbox_to_anchor=(0.5, -0.13), ncol=3)
        ax.set_title("velkan's ratios (to tiktoken unless noted), same run", fontsize=10)

    ax = axes[1]
    v = results["vocabularies"][VOCABS[0]]
    if "scaling" in v:
        for kind, row in _kinds(v["scaling"]):
            xs = sorted(row["velkan"], key=int)
            (line,) = ax.plot(
                [int(n) for n in xs],
                [row["velkan"][n] * 1e9 for n in xs],
                marker="o",
                ms=3,
                label=kind,
            )
            t = sorted((n for n, x in row["tiktoken"].items() if x is not None), key=int)
            if t:
                ax.plot(
                    [int(n) for n in t],
                    [row["tiktoken"][n] * 1e9 for n in t],
                    ls="--",
                    color=line.get_color(),
                    lw=1,
                )
        ax.set_xscale("log", base=2)
        ax.set_yscale("log")
        ax.set_xlabel("text size (bytes)")
        ax.set_ylabel("ns per byte")
        ax.set_title("%s: velkan (solid), tiktoken (dashed)" % VOCABS[0], fontsize=10)
        ax.legend(fontsize=7)
    fig.tight_layout()
    fig.savefig(path)
    plt.close(fig)


def user_table(results):
    """The plain comparison for the top-level README: speed of each peer,
    start-up and memory, without the internal targets."""
    m = results["machine"]
    lines = [
        "Machine: %s, %s cores, Python %s; %s; %s."
        % (
            m["cpu"],
            m["cores"],
            m["python"],
            ", ".join("%s %s" % kv for kv in sorted(m["peers"].items())),
            m["date"][:10],
        )
    ]
    lines.append("")
    for vocab in VOCABS:
        v = results["vocabularies"].get(vocab, {})
        if "throughput" not in v:
            continue
        names = [k for k in next(iter(v["throughput"].values()))["mb_per_s"] if k != "velkan count"]
        names.sort(key=lambda n: (n != "velkan", n != "tiktoken", n))
        lines.append(
            "| %s, MB/s (higher is better) | %s | velkan count |"
            % (
                vocab,
                " | ".join(n + ("" if v["exact"].get(n, True) else " (inexact)") for n in names),
            )
        )
        lines.append("|" + "---|" * (len(names) + 2))
        for corpus, d in v["throughput"].items():
            cells = [CORPUS_LABEL[corpus]] + ["%.1f" % d["mb_per_s"][n] for n in names]
            cells.append("%.1f" % d["mb_per_s"]["velkan count"])
            lines.append("| " + " | ".join(cells) + " |")
        if "short" in v:
            us = v["short"]["us_per_call"]
            lines.append(
                "| short texts (%d bytes), us per call (lower is better) | %s | - |"
                % (
                    round(v["short"]["mean_bytes"]),
                    " | ".join("%.2f" % us[n] if n in us else "-" for n in names),
                )
            )
        lines.append("")
    lines.append("| start and memory | cl100k_base | o200k_base |")
    lines.append("|---|---|---|")
    rows = [
        ("first use, velkan (no cached image yet)", "velkan"),
        ("first use, velkan (cached image)", "velkan (images)"),
        (
            "first use, velkan, a vocabulary of one's own (ranks less one)",
            "velkan (custom vocabulary)",
        ),
        ("first use, tiktoken", "tiktoken"),
    ]
    cold = [results["vocabularies"].get(vocab, {}).get("coldstart") for vocab in VOCABS]
    if all(cold):
        for label, key in rows:
            if not all(key in c for c in cold):
                continue  # results from before this start was timed
            lines.append(
                "| %s | %s |"
                % (
                    label,
                    " | ".join(
                        "%.0f ms, %.0f MB" % (c[key]["total_s"] * 1e3, c[key]["rss_loaded"] / 2**20)
                        for c in cold
                    ),
                )
            )
    return "\n".join(lines).rstrip() + "\n"


START, END = "<!-- benchmark:start -->", "<!-- benchmark:end -->"


def _replace_section(path, body):
    with open(path, encoding="utf-8") as f:
        text = f.read()
    new = re.sub(
        re.escape(START) + ".*?" + re.escape(END),
        lambda _: START + "\n" + body + END,
        text,
        flags=re.S,
    )
    with open(path, "w", encoding="utf-8") as f:
        f.write(new)


def update_readme(path, results):
    """The plain comparison into README.md; the full table with the targets
    into benchmarks/README.md."""
    _replace_section(path, "\n" + user_table(results) + "\n")
    _replace_section(
        os.path.join(os.path.dirname(path), "benchmarks", "README.md"),
        "\nMeasured with `python benchmarks/run.py --readme`; "
        "[JSON](results/latest.json).\n\n"
        + table(results)
        + "\n![velkan against tiktoken](results/latest.png)\n",
    )
