"""Chunking into token budgets: velkan's chunk_spans against the splitters
people use for it, on the committed corpora.

    pip install . && pip install -r benchmarks/requirements.txt
    python benchmarks/budget.py [--max-tokens 512] [--rounds 3]

Peers, each left out when it is not installed:
- semantic-text-splitter, sized by its own tiktoken-compatible tokenizer for
  the same encoding (``TextSplitter.from_tiktoken_model``, trim off so that
  its chunks keep the text whole, like velkan's);
- LangChain's ``RecursiveCharacterTextSplitter.from_tiktoken_encoder``, with
  tiktoken built offline from the repo's rank files.

For each corpus and peer: throughput (MB of UTF-8 per second, best of the
rounds), the speed as a fraction of velkan's ``count`` of the same text timed
in the same rounds ("x count"), the number of chunks, the mean fill (tokens
per chunk / budget, each chunk counted alone with velkan) and the largest
chunk in tokens. "velkan spans" is ``chunk_spans``, the same cuts as offsets.
"""

import argparse
import json
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "python"))
sys.path.insert(0, HERE)

from texts import load_corpora  # noqa: E402

from reference import reference  # noqa: E402

# The model whose encoding semantic-text-splitter's sizer uses.
MODELS = {"cl100k_base": "gpt-4", "o200k_base": "gpt-4o"}


def make_splitters(name, max_tokens):
    import velkan.bpe.openai as openai

    tok = getattr(openai, name)()
    splitters = {
        "velkan": lambda text: tok.chunks(text, max_tokens),
        "velkan spans": lambda text: [text[a:b] for a, b in tok.chunk_spans(text, max_tokens)],
    }
    try:
        from semantic_text_splitter import TextSplitter

        sts = TextSplitter.from_tiktoken_model(MODELS[name], max_tokens, trim=False)
        splitters["semantic-text-splitter"] = sts.chunks
    except ImportError:
        print("semantic-text-splitter not installed: left out", file=sys.stderr)
    try:
        import tiktoken
        from langchain_text_splitters import RecursiveCharacterTextSplitter

        offline = reference(name)
        # from_tiktoken_encoder asks tiktoken for the encoding by name; hand it
        # the one built from the repo's rank files (nothing is downloaded).
        original = tiktoken.get_encoding
        tiktoken.get_encoding = lambda _name: offline
        try:
            lc = RecursiveCharacterTextSplitter.from_tiktoken_encoder(
                encoding_name=name, chunk_size=max_tokens, chunk_overlap=0
            )
        finally:
            tiktoken.get_encoding = original
        splitters["langchain"] = lc.split_text
    except ImportError:
        print("langchain-text-splitters not installed: left out", file=sys.stderr)
    return tok, splitters


def measure(name, max_tokens, rounds):
    tok, splitters = make_splitters(name, max_tokens)
    rows = []
    for corpus, text in load_corpora().items():
        size = len(text.encode("utf-8"))
        best = {}
        chunks = {}
        count_seconds = float("inf")
        # Interleaved rounds: load from other processes hits every peer alike.
        for _ in range(rounds):
            start = time.perf_counter()
            tok.count(text)
            count_seconds = min(count_seconds, time.perf_counter() - start)
            for peer, split in splitters.items():
                if peer == "velkan spans":
                    # Only the native call is timed; the slices are for the fill.
                    start = time.perf_counter()
                    tok.chunk_spans(text, max_tokens)
                    elapsed = time.perf_counter() - start
                    chunks[peer] = split(text)
                else:
                    start = time.perf_counter()
                    chunks[peer] = split(text)
                    elapsed = time.perf_counter() - start
                best[peer] = min(best.get(peer, elapsed), elapsed)
        for peer in splitters:
            counts = [tok.count(c) for c in chunks[peer]]
            rows.append(
                {
                    "encoding": name,
                    "corpus": corpus,
                    "peer": peer,
                    "mb_per_s": size / best[peer] / 1e6,
                    "count_mb_per_s": size / count_seconds / 1e6,
                    "of_count": count_seconds / best[peer],
                    "chunks": len(counts),
                    "mean_fill": sum(counts) / len(counts) / max_tokens if counts else 0.0,
                    "max_tokens_seen": max(counts, default=0),
                }
            )
    return rows


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--max-tokens", type=int, default=512)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--encodings", default="cl100k_base,o200k_base")
    parser.add_argument("--json", metavar="FILE", help="also write the rows as JSON")
    args = parser.parse_args()
    rows = []
    for name in args.encodings.split(","):
        rows += measure(name, args.max_tokens, args.rounds)
    print(
        "%-12s %-13s %-23s %9s %8s %7s %6s %5s"
        % ("encoding", "corpus", "peer", "MB/s", "x count", "chunks", "fill", "max")
    )
    for r in rows:
        print(
            "%-12s %-13s %-23s %9.2f %8.2f %7d %6.3f %5d"
            % (
                r["encoding"],
                r["corpus"],
                r["peer"],
                r["mb_per_s"],
                r["of_count"],
                r["chunks"],
                r["mean_fill"],
                r["max_tokens_seen"],
            )
        )
    if args.json:
        with open(args.json, "w") as f:
            json.dump(rows, f, indent=1)


if __name__ == "__main__":
    main()
