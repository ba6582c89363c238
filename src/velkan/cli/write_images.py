"""velkan write-images: the images into the package directory (for
packagers and read-only installs)."""

from __future__ import annotations

import argparse

from velkan.cli.options import EXIT_OK


def cmd_write_images(parser: argparse.ArgumentParser, args: argparse.Namespace) -> int:
    from velkan.images import write_images

    for path, size in write_images(args.dir).items():
        print("%s: %d bytes" % (path, size))
    return EXIT_OK
