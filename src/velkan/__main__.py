"""Command line of velkan. For now it shows what the extension module holds."""

import sys


def main(argv=None):
    import velkan.bpe
    import velkan.bpe.openai as openai

    print("velkan.bpe:", ", ".join(n for n in dir(velkan.bpe) if not n.startswith("__")))
    print("velkan.bpe.openai:", ", ".join(n for n in dir(openai) if not n.startswith("__")))
    return 0


if __name__ == "__main__":
    sys.exit(main())
