"""velkan against its peers, in one process and one run:

    python benchmarks/run.py [--quick] [--no-optional] [--readme] [--out DIR]

Prints a table of ratios to tiktoken, writes the same data as JSON and a PNG
chart into benchmarks/results/ (or DIR), and with --readme puts the table into
README.md between its benchmark markers. See benchmarks/README.md.

Method: every measure times all peers on the same texts in interleaved
rounds and takes each peer's median, so that a noisy, shared machine moves
all peers alike and the ratios of one run are what counts."""

import argparse
import datetime
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

# Fixed before any peer starts a thread pool: two threads, as velkan's pool
# has on a two-core machine, and no stray caches or downloads.
os.environ.setdefault("RAYON_NUM_THREADS", "2")
os.environ["TIKTOKEN_CACHE_DIR"] = ""

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)

import peers as peers_mod  # noqa: E402
import report  # noqa: E402
import texts as texts_mod  # noqa: E402

VOCABULARIES = ("cl100k_base", "o200k_base")
BATCH_THREADS = 2


def log(*args):
    print(*args, file=sys.stderr, flush=True)


# ---- timing ---------------------------------------------------------------------


def _calibrate(fn, arg, min_time):
    """Calls per sample so that one sample lasts at least min_time."""
    n = 1
    while True:
        t0 = time.perf_counter()
        for _ in range(n):
            fn(arg)
        elapsed = time.perf_counter() - t0
        if elapsed >= min_time or n >= 1 << 20:
            return n
        n = max(n * 2, int(n * min_time / max(elapsed, 1e-9) * 1.2))


def interleaved(fns, arg, rounds, min_time=0.02):
    """{key: median seconds per call} for {key: fn}, all called on arg in
    interleaved rounds."""
    counts = {k: _calibrate(fn, arg, min_time) for k, fn in fns.items()}
    samples = {k: [] for k in fns}
    for _ in range(rounds):
        for k, fn in fns.items():
            n = counts[k]
            t0 = time.perf_counter()
            for _ in range(n):
                fn(arg)
            samples[k].append((time.perf_counter() - t0) / n)
    return {k: statistics.median(v) for k, v in samples.items()}


# ---- measures -------------------------------------------------------------------


def check_parity(peers, corpora, snippets):
    """Marks each peer exact or not against tiktoken on every benchmark text
    (adversarial ones at 4 KB, where tiktoken is still quick)."""
    ref = next(p for p in peers if p.name == "tiktoken")
    cases = list(corpora.values()) + snippets[:500]
    cases += [make(4096) for make in texts_mod.ADVERSARIAL.values()]
    expected = [ref.encode(t) for t in cases]
    for p in peers:
        p.exact = all(p.encode(t) == e for t, e in zip(cases, expected))
        if p.name == "velkan" and not p.exact:
            raise SystemExit("velkan differs from tiktoken on a benchmark text")
        if p.name == "velkan":
            assert all(p.count(t) == len(e) for t, e in zip(cases, expected))


def throughput(peers, corpora, rounds):
    """MB/s of encode for every peer and of count for velkan, per corpus."""
    out = {}
    for name, text in corpora.items():
        size = len(text.encode("utf-8"))
        fns = {p.name: p.encode for p in peers}
        velkan = next(p for p in peers if p.name == "velkan")
        fns["velkan count"] = velkan.count
        times = interleaved(fns, text, rounds)
        out[name] = {"bytes": size, "mb_per_s": {k: size / t / 1e6 for k, t in times.items()}}
        log(
            "    %-13s %s"
            % (name, "  ".join("%s %.1f" % (k, v) for k, v in out[name]["mb_per_s"].items()))
        )
    return out


def short_calls(peers, snippets, rounds):
    """Microseconds per call over many short texts, one call each."""

    def run_all(fn):
        return lambda texts: [fn(t) for t in texts]

    fns = {p.name: run_all(p.encode) for p in peers}
    times = interleaved(fns, snippets, rounds, min_time=0.05)
    per_call = {k: t / len(snippets) * 1e6 for k, t in times.items()}
    log("    short texts (us/call) %s" % "  ".join("%s %.2f" % kv for kv in per_call.items()))
    return {
        "texts": len(snippets),
        "mean_bytes": sum(len(s.encode("utf-8")) for s in snippets) / len(snippets),
        "us_per_call": per_call,
    }


def batches(peers, docs, rounds):
    """MB/s over a list of documents: velkan's parallel and serial batch,
    tiktoken's encode_batch and encode_ordinary_batch on the same number of
    threads, and any other peer's batch call."""
    size = sum(len(d.encode("utf-8")) for d in docs)
    velkan = next(p for p in peers if p.name == "velkan")
    tik = next(p for p in peers if p.name == "tiktoken")
    threads = BATCH_THREADS
    fns = {
        "velkan parallel": lambda d: velkan.encode_batch(d, threads),
        "velkan serial": velkan.encode_batch_serial,
        "tiktoken encode_batch": lambda d: tik.encode_batch(d, threads),
        "tiktoken encode_ordinary_batch": lambda d: tik.encode_ordinary_batch(d, threads),
        "tiktoken 1 thread": lambda d: tik.encode_ordinary_batch(d, 1),
    }
    for p in peers:
        if p.name not in ("velkan", "tiktoken") and p.encode_batch(docs[:2], threads) is not None:
            fns[p.name + " batch"] = lambda d, p=p: p.encode_batch(d, threads)
    expected = tik.encode_ordinary_batch(docs, threads)
    assert velkan.encode_batch(docs, threads) == expected
    times = interleaved(fns, docs, rounds, min_time=0.1)
    mbs = {k: size / t / 1e6 for k, t in times.items()}
    log("    batch (MB/s) %s" % "  ".join("%s %.1f" % kv for kv in mbs.items()))
    import velkan.bpe.openai as openai

    return {
        "documents": len(docs),
        "bytes": size,
        "threads": threads,
        "velkan_pool_threads": openai.get_num_threads(),
        "mb_per_s": mbs,
    }


def scaling(peers, corpora, sizes, budget):
    """Seconds per byte of encode as a text grows, for English prose and each
    adversarial text. A peer stops growing a text once one call takes longer
    than budget seconds (tiktoken is quadratic in the length of a piece)."""
    english = corpora["english"]
    kinds = {"English prose": lambda n: texts_mod.prefix_bytes(english, n)}
    kinds.update(texts_mod.ADVERSARIAL)
    chosen = [p for p in peers if p.name in ("velkan", "tiktoken")]
    out = {}
    failures = []
    for kind, make in kinds.items():
        row = {p.name: {} for p in chosen}
        stopped = set()
        for n in sizes:
            text = make(n)
            size = len(text.encode("utf-8"))
            fns = {p.name: p.encode for p in chosen if p.name not in stopped}
            if not fns:
                break
            try:
                times = interleaved(fns, text, rounds=3, min_time=0.01)
            except (KeyboardInterrupt, SystemExit):
                raise
            except BaseException as e:  # a Rust panic is no Exception
                # tiktoken's regex engine can give up on a long whitespace
                # run (stack overflow); record it and time the others alone.
                failed = [p.name for p in chosen if p.name in fns and _fails(p.encode, text)]
                for name in failed:
                    row[name][str(n)] = None
                    stopped.add(name)
                    failures.append("%s: %s at %s (%s)" % (name, kind, n, str(e).splitlines()[0]))
                times = interleaved(
                    {k: f for k, f in fns.items() if k not in failed}, text, rounds=3, min_time=0.01
                )
            for name, t in times.items():
                row[name][str(n)] = t / size
                if t > budget:
                    stopped.add(name)
        out[kind] = row
        log(
            "    %-18s velkan ns/B %s | tiktoken ns/B %s"
            % (
                kind,
                " ".join(_ns(v) for v in row["velkan"].values()),
                " ".join(_ns(v) for v in row["tiktoken"].values()),
            )
        )
    out["failures"] = failures
    return out


def _ns(seconds_per_byte):
    return "fail" if seconds_per_byte is None else "%.1f" % (seconds_per_byte * 1e9)


def _fails(fn, text):
    try:
        fn(text)
        return False
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException:
        return True


def _run_coldstart(impl, vocab, pythonpath):
    env = dict(os.environ)
    env["TIKTOKEN_CACHE_DIR"] = ""
    if pythonpath:
        env["PYTHONPATH"] = pythonpath + os.pathsep + env.get("PYTHONPATH", "")
    out = subprocess.run(
        [sys.executable, os.path.join(HERE, "coldstart.py"), impl, vocab, ROOT],
        env=env,
        check=True,
        capture_output=True,
        text=True,
        cwd=tempfile.gettempdir(),
    )
    return json.loads(out.stdout)


def coldstart(rounds):
    """Fresh-process start for each vocabulary: velkan without images, velkan
    with images, tiktoken reading its rank file; median of interleaved runs,
    and the resident memory of the process once the vocabulary is loaded."""
    import velkan
    import velkan.images

    installed = os.path.dirname(os.path.abspath(velkan.__file__))
    work = tempfile.mkdtemp(prefix="velkan-coldstart-")
    try:
        # Two copies of the installed package, one without and one with images,
        # so that the installed package is never changed.
        plain = os.path.join(work, "plain")
        imaged = os.path.join(work, "imaged")
        for d in (plain, imaged):
            shutil.copytree(
                installed,
                os.path.join(d, "velkan"),
                ignore=shutil.ignore_patterns("precomputed_*.bin", "__pycache__"),
            )
        velkan.images.write_images(os.path.join(imaged, "velkan"))
        configs = {
            "velkan": plain,
            "velkan (images)": imaged,
            "velkan (custom vocabulary)": plain,
            "tiktoken": None,
        }
        impls = {"tiktoken": "tiktoken", "velkan (custom vocabulary)": "velkan-custom"}
        out = {}
        for vocab in VOCABULARIES:
            samples = {k: [] for k in configs}
            for _ in range(rounds):
                for k, path in configs.items():
                    samples[k].append(_run_coldstart(impls.get(k, "velkan"), vocab, path))
            out[vocab] = {
                k: {f: statistics.median(s[f] for s in v) for f in v[0]} for k, v in samples.items()
            }
            log(
                "    %s cold start (s): %s"
                % (vocab, "  ".join("%s %.3f" % (k, v["total_s"]) for k, v in out[vocab].items()))
            )
        return out
    finally:
        shutil.rmtree(work, ignore_errors=True)


# ---- machine ----------------------------------------------------------------------


def machine():
    cpu = platform.processor() or platform.machine()
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    versions = {}
    for mod in ("tiktoken", "tokenizers", "tokendagger"):
        try:
            from importlib.metadata import version

            versions[mod] = version(mod)
        except Exception:
            pass
    try:
        commit = subprocess.run(
            ["git", "-C", ROOT, "rev-parse", "--short", "HEAD"], capture_output=True, text=True
        ).stdout.strip()
    except OSError:
        commit = ""
    return {
        "cpu": cpu,
        "cores": os.cpu_count(),
        "system": platform.platform(),
        "load_average": os.getloadavg()[0],
        "python": platform.python_version(),
        "peers": versions,
        "commit": commit,
        "date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
    }


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="fewer rounds and sizes (a smoke run)")
    parser.add_argument("--no-optional", action="store_true", help="only velkan and tiktoken")
    parser.add_argument(
        "--readme", action="store_true", help="update README.md's benchmark section"
    )
    parser.add_argument("--out", default=os.path.join(HERE, "results"), help="output folder")
    parser.add_argument(
        "--only",
        default="",
        help="comma list of measures to run "
        "(throughput,short,batch,scaling,coldstart); default all",
    )
    args = parser.parse_args(argv)
    only = set(filter(None, args.only.split(",")))
    wanted = lambda m: not only or m in only  # noqa: E731
    rounds = 3 if args.quick else 7
    sizes = texts_mod.SCALING_SIZES[:3] if args.quick else texts_mod.SCALING_SIZES

    started = time.time()
    corpora = texts_mod.load_corpora()
    snippets = texts_mod.short_texts(corpora, count=1000 if args.quick else 3000)
    docs = texts_mod.documents(corpora)
    results = {"machine": machine(), "quick": args.quick, "vocabularies": {}}
    for vocab in VOCABULARIES:
        log("%s:" % vocab)
        peers = peers_mod.make_peers(vocab, optional=not args.no_optional, log=log)
        check_parity(peers, corpora, snippets)
        r = {"exact": {p.name: p.exact for p in peers}}
        if wanted("throughput"):
            r["throughput"] = throughput(peers, corpora, rounds)
        if wanted("short"):
            r["short"] = short_calls(peers, snippets, rounds)
        if wanted("batch"):
            r["batch"] = batches(peers, docs, rounds)
        if wanted("scaling"):
            r["scaling"] = scaling(peers, corpora, sizes, budget=0.5 if args.quick else 2.0)
        results["vocabularies"][vocab] = r
        del peers
    if wanted("coldstart"):
        log("cold start:")
        cold = coldstart(3 if args.quick else 5)
        for vocab, c in cold.items():
            results["vocabularies"][vocab]["coldstart"] = c
    results["seconds"] = time.time() - started
    results["machine"]["load_average_end"] = os.getloadavg()[0]

    os.makedirs(args.out, exist_ok=True)
    with open(os.path.join(args.out, "latest.json"), "w") as f:
        json.dump(results, f, indent=1, sort_keys=True)
    text = report.table(results)
    print(text)
    try:
        report.chart(results, os.path.join(args.out, "latest.png"))
    except ImportError:
        log("matplotlib is not installed: no chart")
    if args.readme:
        report.update_readme(os.path.join(ROOT, "README.md"), results)
    log("done in %.0f s" % results["seconds"])


if __name__ == "__main__":
    main()
