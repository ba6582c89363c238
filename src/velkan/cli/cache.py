"""velkan cache: where the cached images are and how large, or remove them."""

from __future__ import annotations

import argparse

from velkan.cli.options import EXIT_OK


def cmd_cache(parser: argparse.ArgumentParser, args: argparse.Namespace) -> int:
    from velkan import images

    root = images.cache_root()
    if args.action == "clear":
        removed = images.clear_cache()
        for path in removed:
            print("removed %s" % path)
        print("%d cached image(s) removed" % len(removed))
        return EXIT_OK
    if root is None:
        print("cache: disabled (VELKAN_CACHE_DIR is set and empty)")
        return EXIT_OK
    print("cache: %s" % images.cache_dir())
    found = images.cached_images()
    for path, size in found:
        print("%10.1f MB  %s" % (size / 1e6, path))
    print("%10.1f MB  in %d image(s)" % (sum(s for _, s in found) / 1e6, len(found)))
    return EXIT_OK
