"""The table of vocabularies, and the code the build generates from it.

Run by the build (see CMakeLists.txt):
    python gen_vocab.py OUT_DIR RANKS_DIR     generate everything below
    python gen_vocab.py --blobs OUT_DIR       print the blob paths (for CMake)

VOCABULARIES below is the one place that says which vocabularies exist. Each
rank file holds one base64 token and its rank per line. The script checks the
file against the SHA-256 in the table (and data/SHA256SUMS, for sha256sum -c)
and that ranks only rise; a rank that no line holds (a gap) becomes an empty
token. A vocabulary with a `base` stores only the lines after the base's rank
file (its rank file is that file plus these lines, and the table's SHA-256 is
of the whole); its blobs hold only what follows the base's and are embedded
right after them, so the shared ranks are in the module once. Writes for every
vocabulary SHORT:
  SHORT_token_bytes.bin, SHORT_token_starts.bin  raw bytes, little-endian u32
                      (for a vocabulary with a base: the part after the base's)
  vocab_data.S        an assembler unit that embeds the blobs with .incbin
  vocab/embedded.h    the blobs' symbols and their counts (taken from the files)
  vocab_registry.cc   kVocabularies[], the table as src/vocab/registry.h has it
Assembling binary blobs is instant; an initializer list of millions of
integers would take the C++ compiler minutes.
"""

import base64
import collections
import hashlib
import os
import struct
import sys

Vocabulary = collections.namedtuple(
    "Vocabulary",
    "name short rank_file rank_sha256 image_file image_digest rule_set base",
    defaults=(None,),
)

# image_digest: BLAKE3-256 of the image construction writes for the
# vocabulary (tests/image_test.cc prints the new value when construction
# changes). rule_set: a RuleSet enumerator of src/presplit/rule_set.h.
# base: the name of a vocabulary whose rank file starts this one's.
VOCABULARIES = [
    Vocabulary(
        name="r50k_base",
        short="r50k",
        rank_file="r50k_base.tiktoken",
        rank_sha256="306cd27f03c1a714eca7108e03d66b7dc042abe8c258b44c199a7ed9838dd930",
        image_file="precomputed_r50k.bin",
        image_digest="becd7162347b5c333d15a341dbb182e4201a4d95561d78a2afeea6b0ba51f354",
        rule_set="kR50k",
    ),
    Vocabulary(
        name="p50k_base",
        short="p50k",
        rank_file="p50k_base.extra.tiktoken",
        rank_sha256="94b5ca7dff4d00767bc256fdd1b27e5b17361d7b8a5f968547f9f23eb70d2069",
        image_file="precomputed_p50k.bin",
        image_digest="a2b2fbb6e8f684e5d9d1d7c54923a297fc224a97f49bc8bd310547f63603f9cb",
        rule_set="kR50k",
        base="r50k_base",
    ),
    Vocabulary(
        name="cl100k_base",
        short="cl100k",
        rank_file="cl100k_base.tiktoken",
        rank_sha256="223921b76ee99bde995b7ff738513eef100fb51d18c93597a113bcffe865b2a7",
        image_file="precomputed_cl100k.bin",
        image_digest="6cc44f1a971d9386ac8f3258c60896479430d692aa0cf6c5b44a138c512aa0a4",
        rule_set="kCl100k",
    ),
    Vocabulary(
        name="o200k_base",
        short="o200k",
        rank_file="o200k_base.tiktoken",
        rank_sha256="446a9538cb6c348e3516120d7c08b09f57c36495e2acfffe59a5bf8b0cfb1a2d",
        image_file="precomputed_o200k.bin",
        image_digest="8f9848f33bf0b3b101296138374284198116011bb11d61f7c1a2fc2e24e4616a",
        rule_set="kO200k",
    ),
]


def blob_paths(out_dir):
    paths = []
    for v in VOCABULARIES:
        paths += [
            os.path.join(out_dir, v.short + "_token_bytes.bin"),
            os.path.join(out_dir, v.short + "_token_starts.bin"),
        ]
    return paths


def camel(short):
    return short[:1].upper() + short[1:]


def fail(message):
    sys.stderr.write("gen_vocab: error: %s\n" % message)
    sys.exit(1)


def read_checksums(path):
    sums = {}
    with open(path, encoding="ascii") as f:
        for line in f:
            parts = line.split()
            if len(parts) == 2:
                sums[parts[1].lstrip("*")] = parts[0].lower()
    return sums


def read_rank_file(ranks_dir, v, sums):
    """The vocabulary's whole rank file, its base's first."""
    with open(os.path.join(ranks_dir, v.rank_file), "rb") as f:
        own = f.read()
    if hashlib.sha256(own).hexdigest() != sums.get(v.rank_file):
        fail("%s: SHA-256 differs from data/SHA256SUMS" % v.rank_file)
    if v.base is None:
        return own
    return read_rank_file(ranks_dir, by_name(v.base), sums) + own


def by_name(name):
    for v in VOCABULARIES:
        if v.name == name:
            return v
    fail("no vocabulary named %s" % name)


def parse_ranks(raw, file_name, expected_sha):
    actual = hashlib.sha256(raw).hexdigest()
    if actual != expected_sha:
        fail("%s: SHA-256 is %s, expected %s" % (file_name, actual, expected_sha))
    tokens = []
    for line_no, line in enumerate(raw.splitlines()):
        parts = line.split()
        if len(parts) != 2 or not parts[1].isdigit():
            fail("%s line %d: expected 'TOKEN RANK'" % (file_name, line_no + 1))
        rank = int(parts[1])
        if rank < len(tokens):
            fail(
                "%s line %d: rank %d, expected %d or more"
                % (file_name, line_no + 1, rank, len(tokens))
            )
        token = base64.b64decode(parts[0], validate=True)
        if not token:
            fail("%s line %d: empty token" % (file_name, line_no + 1))
        tokens += [b""] * (rank - len(tokens))  # gaps
        tokens.append(token)
    return tokens


def write_if_changed(path, text):
    """Leaves an unchanged file alone, so its dependants are not rebuilt."""
    try:
        with open(path, encoding="ascii") as f:
            if f.read() == text:
                return
    except OSError:
        pass
    with open(path, "w", encoding="ascii") as f:
        f.write(text)


def embedded_header(counts):
    lines = [
        "// GENERATED BY src/vocab/gen_vocab.py; DO NOT EDIT.",
        "// The embedded vocabularies: token i of SHORT is bytes",
        "// [SHORT_token_starts[i], SHORT_token_starts[i+1]) of SHORT_token_bytes.",
        "",
        "#ifndef VELKAN_VOCAB_EMBEDDED_H_",
        "#define VELKAN_VOCAB_EMBEDDED_H_",
        "",
        "#include <cstdint>",
        "",
        'extern "C" {',
    ]
    for v in VOCABULARIES:
        lines += [
            "extern const uint8_t %s_token_bytes[];" % v.short,
            "extern const uint32_t %s_token_starts[];  // k%sTokens + 1 entries"
            % (v.short, camel(v.short)),
        ]
    lines += ["}", "", "namespace velkan {", ""]
    for v in VOCABULARIES:
        tokens, total = counts[v.name]
        lines += [
            "inline constexpr uint32_t k%sTokens = %d;" % (camel(v.short), tokens),
            "inline constexpr uint32_t k%sBytes = %d;" % (camel(v.short), total),
        ]
    lines += ["", "}  // namespace velkan", "", "#endif  // VELKAN_VOCAB_EMBEDDED_H_", ""]
    return "\n".join(lines)


def registry_unit(counts):
    lines = [
        "// GENERATED BY src/vocab/gen_vocab.py; DO NOT EDIT.",
        "",
        '#include "vocab/registry.h"',
        "",
        '#include "vocab/embedded.h"',
        "",
        "namespace velkan {",
        "namespace {",
        "",
        "constexpr VocabularyInfo kVocabularies[] = {",
    ]
    for v in VOCABULARIES:
        digest = bytes.fromhex(v.image_digest)
        if len(digest) != 32:
            fail("%s: image_digest must be 64 hex digits" % v.name)
        lines += [
            "    {",
            '        "%s", "%s", "%s",' % (v.name, v.short, v.image_file),
            "        %s_token_bytes, %s_token_starts, k%sTokens,"
            % (v.short, v.short, camel(v.short)),
            "        RuleSet::%s," % v.rule_set,
            "        {%s}," % ", ".join("0x%02x" % b for b in digest),
            "    },",
        ]
    lines += [
        "};",
        "",
        "}  // namespace",
        "",
        "std::span<const VocabularyInfo> vocabularies() { return kVocabularies; }",
        "",
        "}  // namespace velkan",
        "",
    ]
    return "\n".join(lines)


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--blobs":
        print(";".join(p.replace("\\", "/") for p in blob_paths(sys.argv[2])))
        return
    if len(sys.argv) != 3:
        fail("usage: gen_vocab.py OUT_DIR RANKS_DIR | --blobs OUT_DIR")
    out_dir, ranks_dir = sys.argv[1], sys.argv[2]
    os.makedirs(os.path.join(out_dir, "vocab"), exist_ok=True)
    sums = read_checksums(os.path.join(ranks_dir, "SHA256SUMS"))
    # The unit is preprocessed: ELF (Linux) and Mach-O (macOS) spell sections,
    # symbol names and visibility differently.
    asm = [
        "/* GENERATED BY gen_vocab.py; DO NOT EDIT. */",
        "#if defined(__APPLE__)",
        ".section __TEXT,__const",
        "#else",
        ".section .rodata",
        "#endif",
    ]
    counts = {}
    names = set()
    parsed = {}
    for v in VOCABULARIES:
        if v.name in names or v.short in names:
            fail("%s: name used twice in VOCABULARIES" % v.name)
        names.update((v.name, v.short))
        parsed[v.name] = parse_ranks(read_rank_file(ranks_dir, v, sums), v.rank_file, v.rank_sha256)
    derived = {}
    for v in VOCABULARIES:
        if v.base is not None:
            base = by_name(v.base)
            if base.base is not None or base.name in derived:
                fail("%s: a base must have no base and one extension" % v.name)
            derived[base.name] = v
    blob = {}  # name -> (tokens' bytes, starts) it adds after its base's
    for v in VOCABULARIES:
        tokens = parsed[v.name]
        starts = [0]
        for t in tokens:
            starts.append(starts[-1] + len(t))
        counts[v.name] = (len(tokens), starts[-1])
        skip_tokens = skip_starts = 0
        if v.base is not None:
            base_tokens = parsed[v.base]
            if tokens[: len(base_tokens)] != base_tokens:
                fail("%s does not start with the ranks of %s" % (v.name, v.base))
            skip_tokens, skip_starts = len(base_tokens), len(base_tokens) + 1
        bytes_path, starts_path = blob_paths(out_dir)[2 * VOCABULARIES.index(v) :][:2]
        with open(bytes_path, "wb") as f:
            f.write(b"".join(tokens[skip_tokens:]))
        with open(starts_path, "wb") as f:
            f.write(struct.pack("<%dI" % (len(starts) - skip_starts), *starts[skip_starts:]))
        blob[v.name] = (bytes_path, starts_path)
    for v in VOCABULARIES:
        if v.base is not None:
            continue
        ext = derived.get(v.name)
        for part, align in (("_token_bytes", 1), ("_token_starts", 4)):
            path = blob[v.name][0 if part == "_token_bytes" else 1]
            owners = [v] + ([ext] if ext else [])
            for o in owners:
                symbol = o.short + part
                # Hidden: the data is the module's own, not part of its ABI.
                asm += ["#if defined(__APPLE__)", ".globl _%s" % symbol]
                asm += [".private_extern _%s" % symbol, "#else", ".global %s" % symbol]
                asm += [".hidden %s" % symbol, ".type %s, @object" % symbol, "#endif"]
            asm.append(".balign %d" % align)
            asm.append("#if defined(__APPLE__)")
            asm += ["_%s:" % (o.short + part) for o in owners]
            asm.append("#else")
            asm += ["%s:" % (o.short + part) for o in owners]
            asm.append("#endif")
            asm.append('.incbin "%s"' % os.path.abspath(path).replace("\\", "/"))
            asm.append(elf_size(v.short + part))
            if ext:
                ext_path = blob[ext.name][0 if part == "_token_bytes" else 1]
                asm.append('.incbin "%s"' % os.path.abspath(ext_path).replace("\\", "/"))
                asm.append(elf_size(ext.short + part))
    asm += ["#if !defined(__APPLE__)", '.section .note.GNU-stack,"",@progbits', "#endif"]
    write_if_changed(os.path.join(out_dir, "vocab_data.S"), "\n".join(asm) + "\n")
    write_if_changed(os.path.join(out_dir, "vocab", "embedded.h"), embedded_header(counts))
    write_if_changed(os.path.join(out_dir, "vocab_registry.cc"), registry_unit(counts))


def elf_size(symbol):
    """The .size line of an ELF symbol; Mach-O has none."""
    return "#if !defined(__APPLE__)\n.size %s, . - %s\n#endif" % (symbol, symbol)


if __name__ == "__main__":
    main()
