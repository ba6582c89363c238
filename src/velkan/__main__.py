"""Command line of velkan: python -m velkan COMMAND ...

    count [FILE ...]       tokens per file and in total ('-' or none: stdin)
    encode [TEXT]          token ids of TEXT (or stdin), space-separated
    decode [ID ...]        text of the ids (or of the ids on stdin)
    write-images [DIR]     precomputed images into DIR (default: the package)
"""

import argparse
import sys

ENCODINGS = ("cl100k_base", "o200k_base")


def tokenizer(name):
    import velkan.bpe.openai as openai

    return getattr(openai, name)()


def read_input(path):
    if path == "-":
        return sys.stdin.buffer.read()
    with open(path, "rb") as f:
        return f.read()


def cmd_count(args):
    tok = tokenizer(args.encoding)
    paths = args.files or ["-"]
    total = 0
    for path in paths:
        n = tok.count(read_input(path))
        total += n
        print("%10d %s" % (n, path))
    if len(paths) > 1:
        print("%10d total" % total)
    return 0


def cmd_encode(args):
    text = args.text if args.text is not None else sys.stdin.buffer.read()
    print(" ".join(map(str, tokenizer(args.encoding).encode(text))))
    return 0


def cmd_decode(args):
    words = args.ids if args.ids else sys.stdin.read().split()
    try:
        ids = [int(w) for w in words]
    except ValueError as e:
        print("velkan: error: invalid token id: %s" % e, file=sys.stderr)
        return 1
    data = tokenizer(args.encoding).bpe().decode_tokens(ids)
    sys.stdout.buffer.write(data)
    return 0


def cmd_write_images(args):
    from velkan.images import write_images

    for path, size in write_images(args.dir).items():
        print("%s: %d bytes" % (path, size))
    return 0


def main(argv=None):
    parser = argparse.ArgumentParser(prog="velkan", description=__doc__.split("\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)

    def with_encoding(p):
        p.add_argument("-e", "--encoding", choices=ENCODINGS, default="o200k_base")
        return p

    p = with_encoding(sub.add_parser("count", help="count tokens of files"))
    p.add_argument("files", nargs="*", metavar="FILE")
    p.set_defaults(run=cmd_count)
    p = with_encoding(sub.add_parser("encode", help="text to token ids"))
    p.add_argument("text", nargs="?")
    p.set_defaults(run=cmd_encode)
    p = with_encoding(sub.add_parser("decode", help="token ids to text"))
    p.add_argument("ids", nargs="*")
    p.set_defaults(run=cmd_decode)
    p = sub.add_parser("write-images", help="write precomputed images")
    p.add_argument("dir", nargs="?")
    p.set_defaults(run=cmd_write_images)

    args = parser.parse_args(argv)
    try:
        return args.run(args)
    except OSError as e:
        print("velkan: error: %s" % e, file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
