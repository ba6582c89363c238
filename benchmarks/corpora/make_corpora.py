"""Assembles the committed benchmark corpora from texts on a Debian machine
with CPython 3.11, perl and a Rust toolchain (see SOURCES.md for where each
part comes from and under which licence). The committed files are what the
benchmark reads; this script only documents and repeats how they were made:

    python benchmarks/corpora/make_corpora.py [NAME ...]
"""

import gettext
import glob
import html
import os
import re
import subprocess
import sys
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


# Manual pages as man shows them (groff's UTF-8 output: curly quotes, dashes
# and hyphens in the English ones), about 24 KB per language, in Debian 12's
# man-db, dpkg, shadow and other packages; each under its package's licence
# (see /usr/share/doc/<package>/copyright; SOURCES.md lists them).
MAN_LANGUAGES = (
    "",
    "de",
    "fr",
    "es",
    "it",
    "pt_BR",
    "pl",
    "ru",
    "ja",
    "zh_CN",
    "ko",
    "sv",
    "nl",
    "tr",
    "cs",
)


def man_page(path):
    env = dict(os.environ, MANWIDTH="80", LANG="C.UTF-8", MAN_KEEP_FORMATTING="")
    shown = subprocess.run(["man", "-l", path], capture_output=True, env=env).stdout
    plain = subprocess.run(["col", "-b"], input=shown, capture_output=True).stdout
    return plain.decode("utf-8", errors="replace")


MAN_ENGLISH = ("man", "apropos", "dpkg", "dpkg-query", "apt-get", "passwd", "chage", "login")


def man_pages(language, limit=24_000):
    folder = os.path.join("/usr/share/man", language, "man1")
    if language:
        paths = sorted(glob.glob(os.path.join(folder, "*.1.gz")))
    else:
        paths = [os.path.join(folder, n + ".1.gz") for n in MAN_ENGLISH]
    text, used = "", []
    for path in paths:
        if len(text.encode("utf-8")) >= limit:
            break
        if os.path.exists(path):
            text += man_page(path)
            used.append(path)
    return clip(text, limit), used


def docs():
    parts, used = [], []
    for language in MAN_LANGUAGES:
        text, paths = man_pages(language)
        parts.append(text)
        used += paths
    owners = subprocess.run(["dpkg", "-S"] + used, capture_output=True, text=True).stdout
    print("docs: packages", sorted({line.split(":")[0] for line in owners.splitlines()}))
    return "".join(parts)


# Scripting and systems languages other than those in code.txt: Perl
# (Debian's debconf and dpkg modules), POSIX shell (dpkg, gettext, bzip2 and
# gdb scripts) and C++ (GCC 12's standard library headers).
SCRIPTS = (
    ("/usr/share/perl5/Debconf/*.pm", 100_000),
    ("/usr/share/perl5/Dpkg/*.pm", 60_000),
    (
        "/usr/bin/dpkg-maintscript-helper /usr/bin/gettext.sh /usr/bin/bzdiff /usr/bin/gettextize",
        80_000,
    ),
    ("/usr/include/c++/12/bits/stl_vector.h /usr/include/c++/12/bits/stl_algo.h", 120_000),
)


def scripts():
    parts = []
    for patterns, limit in SCRIPTS:
        paths = sorted(p for pattern in patterns.split() for p in glob.glob(pattern))
        text = "".join(open(p, encoding="utf-8", errors="replace").read() for p in paths)
        parts.append(clip(text, limit))
    return "".join(parts)


# Typographic English: GNU manuals in Info form (curly quotes, en and em
# dashes), GFDL-1.3 without invariant sections.
def typographic():
    import gzip

    parts = []
    for name, limit in (("coreutils", 160_000), ("sed", 60_000), ("grep", 40_000)):
        with gzip.open("/usr/share/info/%s.info.gz" % name, "rt", encoding="utf-8") as f:
            parts.append(clip(f.read(), limit))
    return "".join(parts)


def _is_cjk(c):
    return (
        "\u3000" <= c <= "\u30ff"  # CJK punctuation, kana
        or "\u3400" <= c <= "\u9fff"  # ideographs
        or "\uff00" <= c <= "\uffef"  # full-width forms
    )


def cjk():
    """Chinese and Japanese sentences, which have no spaces between words:
    PostgreSQL's server messages (a different catalogue from those in
    multilingual.txt), only those at least 60% CJK, one a line."""
    parts = []
    for language in ("zh_CN", "ja"):
        path = os.path.join(LOCALE, language, "LC_MESSAGES", "postgres-15.mo")
        with open(path, "rb") as f:
            catalogue = gettext.GNUTranslations(f)._catalog
        lines = []
        for key, value in sorted(catalogue.items(), key=lambda kv: str(kv[0])):
            if not key or not value:
                continue
            visible = value.replace(" ", "")
            if sum(map(_is_cjk, visible)) >= 0.6 * len(visible):
                lines.append(value.replace("\n", " ").strip())
        parts.append(clip("\n".join(lines) + "\n", 130_000))
    return "".join(parts)


# Perl and POSIX shell alone, from other files than scripts.txt's: Perl's own
# core modules (their POD taken out, so that the row is code) and the shell
# scripts of git, ucf, apt and init-system-helpers.
PERL_MODULES = ("Getopt/Long.pm", "File/Temp.pm", "Text/Balanced.pm", "File/Find.pm", "Carp.pm")
SHELL_SCRIPTS = (
    "/usr/lib/git-core/git-subtree",
    "/usr/lib/git-core/git-filter-branch",
    "/usr/lib/git-core/git-mergetool",
    "/usr/lib/git-core/git-submodule",
    "/usr/lib/git-core/git-instaweb",
    "/usr/bin/ucf",
    "/usr/bin/apt-key",
    "/usr/sbin/invoke-rc.d",
)


def shell_perl():
    perl = glob.glob("/usr/share/perl/5.*")[0]
    text = "".join(open(os.path.join(perl, m), encoding="utf-8").read() for m in PERL_MODULES)
    text = re.sub(r"(?ms)^=[a-zA-Z].*?(^=cut[^\n]*\n|\Z)", "", text)
    perl_part = clip(text, 125_000)
    shell = "".join(open(p, encoding="utf-8", errors="replace").read() for p in SHELL_SCRIPTS)
    return perl_part + clip(shell, 125_000)


def main(argv=None):
    # Names on the command line make only those (the other sources may be
    # missing on this machine); none makes all.
    wanted = set(sys.argv[1:] if argv is None else argv)
    for name, make in (
        ("english", english),
        ("code", code),
        ("multilingual", multilingual),
        ("docs", docs),
        ("scripts", scripts),
        ("typographic", typographic),
        ("cjk", cjk),
        ("shell_perl", shell_perl),
    ):
        if wanted and name not in wanted:
            continue
        text = make()
        with open(os.path.join(HERE, name + ".txt"), "w", encoding="utf-8", newline="") as f:
            f.write(text)
        print(name, len(text.encode("utf-8")), "bytes")


if __name__ == "__main__":
    main()
