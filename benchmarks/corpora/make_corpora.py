"""Assembles the committed benchmark corpora from texts on a Debian machine
with CPython 3.11, perl and a Rust toolchain (see SOURCES.md for where each
part comes from and under which licence). The committed files are what the
benchmark reads; this script only documents and repeats how they were made:

    python benchmarks/corpora/make_corpora.py
"""

import gettext
import glob
import html
import os
import re
import sysconfig

HERE = os.path.dirname(os.path.abspath(__file__))
STDLIB = sysconfig.get_paths()["stdlib"]
INCLUDE = sysconfig.get_paths()["include"]
RUST_SRC = os.path.expanduser(
    "~/.rustup/toolchains/stable-x86_64-unknown-linux-gnu/share/doc/rust/html"
)
LOCALE = "/usr/share/locale"


def clip(text, limit):
    """At most limit UTF-8 bytes, cut at a line end."""
    data = text.encode("utf-8")
    if len(data) <= limit:
        return text
    cut = data.rfind(b"\n", 0, limit)
    return data[: cut + 1].decode("utf-8")


def english():
    from pydoc_data.topics import topics

    return clip("\n\n".join(topics[k] for k in sorted(topics)), 480_000)


def rust_source(path):
    page = open(path, encoding="utf-8").read()
    code = page[page.index("<code>") + len("<code>") : page.index("</code></pre>")]
    code = re.sub(r"<a [^>]*data-nosnippet>\d+</a>", "", code)
    return html.unescape(re.sub(r"<[^>]+>", "", code))


def code():
    parts = []
    for name in ("argparse.py", "dataclasses.py", "json/decoder.py", "heapq.py"):
        parts.append(open(os.path.join(STDLIB, name), encoding="utf-8").read())
    python = clip("".join(parts), 160_000)
    parts = []
    for name in (
        "object.h",
        "cpython/object.h",
        "unicodeobject.h",
        "cpython/unicodeobject.h",
        "abstract.h",
        "cpython/abstract.h",
        "pyport.h",
    ):
        parts.append(open(os.path.join(INCLUDE, name), encoding="utf-8").read())
    c = clip("".join(parts), 130_000)
    rust = clip(
        "".join(
            rust_source(os.path.join(RUST_SRC, "src", "alloc", name))
            for name in ("vec/mod.rs.html", "string.rs.html", "rc.rs.html")
        ),
        160_000,
    )
    js = "".join(
        open(p, encoding="utf-8").read()
        for p in sorted(
            glob.glob(os.path.join(RUST_SRC, "static.files", "main-*.js"))
            + glob.glob(os.path.join(RUST_SRC, "static.files", "search-*.js"))
        )
    )
    js = clip(js, 130_000)
    return python + "\n" + c + "\n" + rust + "\n" + js


# (language, catalogue): GNU coreutils (GPL-3.0+) where a translation exists,
# GTK (LGPL-2.0+) and GLib (LGPL-2.1+) for Arabic and Hindi.
CATALOGUES = [
    ("zh_CN", "coreutils"),
    ("ja", "coreutils"),
    ("ko", "coreutils"),
    ("ru", "coreutils"),
    ("ar", "gtk20-properties"),
    ("ar", "gtk20"),
    ("hi", "gtk20-properties"),
    ("hi", "glib20"),
]


def messages(language, domain):
    path = os.path.join(LOCALE, language, "LC_MESSAGES", domain + ".mo")
    with open(path, "rb") as f:
        catalogue = gettext.GNUTranslations(f)._catalog
    texts = [v for k, v in sorted(catalogue.items(), key=lambda kv: str(kv[0])) if k and v]
    return "\n".join(texts) + "\n"


def multilingual():
    parts = []
    for language, domain in CATALOGUES:
        limit = 100_000 if language in ("zh_CN", "ja", "ko", "ru") else 60_000
        parts.append(clip(messages(language, domain), limit))
    for path in sorted(glob.glob(os.path.join(STDLIB, "test", "cjkencodings", "*-utf8.txt"))):
        parts.append(open(path, encoding="utf-8").read())
    return "".join(parts)


def main():
    for name, make in (("english", english), ("code", code), ("multilingual", multilingual)):
        text = make()
        with open(os.path.join(HERE, name + ".txt"), "w", encoding="utf-8", newline="") as f:
            f.write(text)
        print(name, len(text.encode("utf-8")), "bytes")


if __name__ == "__main__":
    main()
