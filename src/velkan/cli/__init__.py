"""The velkan command line: count, encode and decode ordinary text with any of OpenAI's encodings.

    velkan count [FILE ...]     tokens per file and in total, like wc
    velkan encode [TEXT]        token ids of TEXT (or of stdin)
    velkan decode [ID ...]      text of the ids (or of the ids on stdin)
    velkan chunk --max-tokens N [FILE ...]   chunks of at most N tokens, as JSON lines
    velkan truncate --max-tokens N [FILE]    the longest start (or end) within N tokens
    velkan cache info|clear     the cached images that make the first use fast
    velkan write-images [DIR]   images into the package directory (for packagers)

Input that is not valid UTF-8 is counted and encoded as the raw bytes it is,
exactly as the library does for bytes arguments.

Exit status: 0 on success; 1 when an input could not be read or was invalid;
2 on usage errors; 3 when ``count --limit`` found an input over the limit.

An application on top of the library: nothing outside this package imports
it. ``app`` holds the parser and ``main``; each command has its module
(``count``, ``encode``, ``decode``, ``chunk``, ``truncate``, ``cache``,
``write_images``) on the shared parts: ``options`` (argument types, exit
statuses), ``chunking`` (inputs cut where a piece boundary is certain),
``progress``, ``inputs``, ``records`` (JSON lines and Parquet readers),
``tokenfiles`` (the .npy and Parquet writers), ``cluster`` (Dask) and
``signals``.
"""

from velkan.cli.app import main

__all__ = ["main"]
