#!/usr/bin/env python3
"""Checks that the native folders of src/ include one way: a file includes
headers of its own folder and of lower folders only, in the order HACKING.md
gives on its line "Native layers, lowest first: `util/` -> `core/` -> ...".

An include names a file of a layer when it resolves, as the compiler's quoted
form does, next to the including file or under src/; anything else (the
standard library, third_party/, generated headers) is not checked. Every
folder of src/ holding C++ sources must be in the order, so a new folder is
placed on purpose rather than left unchecked.

Usage: tools/check_layers.py [ROOT] (default: the repository holding this
script). Prints each include that points up and exits 1 if there is one.
"""

from __future__ import annotations

import re
import sys
from pathlib import Path

ORDER_LINE = "Native layers, lowest first:"
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SOURCES = (".h", ".cc")


def layer_order(root: Path) -> list[str]:
    """The native folders, lowest first, from HACKING.md's order line."""
    for line in (root / "HACKING.md").read_text(encoding="utf-8").splitlines():
        if line.startswith(ORDER_LINE):
            folders = re.findall(r"`([A-Za-z0-9_]+)/`", line)
            if folders:
                return folders
    raise SystemExit(f"{root / 'HACKING.md'}: no line starting {ORDER_LINE!r} naming `folder/`s")


def layer_of(src: Path, path: Path) -> str:
    return path.relative_to(src).parts[0]


def resolve(src: Path, including: Path, name: str) -> Path | None:
    """The file of src/ that `#include "name"` in `including` names, if any."""
    for candidate in (including.parent / name, src / name):
        if candidate.is_file():
            resolved = candidate.resolve()
            if resolved.is_relative_to(src.resolve()):
                return resolved
    return None


def back_arrows(root: Path) -> list[str]:
    """One message per include of a higher layer, or of a folder outside the order."""
    order = layer_order(root)
    rank = {folder: i for i, folder in enumerate(order)}
    src = root / "src"
    problems = []
    files = sorted(p for p in src.rglob("*") if p.suffix in SOURCES and p.is_file())
    for path in files:
        layer = layer_of(src, path)
        where = path.relative_to(root)
        if layer not in rank:
            problems.append(f"{where}: folder src/{layer}/ is not in HACKING.md's layer order")
            continue
        text = path.read_text(encoding="utf-8", errors="replace")
        for number, line in enumerate(text.splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            target = resolve(src, path, match.group(1))
            if target is None:
                continue
            target_layer = layer_of(src.resolve(), target)
            if target_layer not in rank:
                problems.append(
                    f"{where}:{number}: includes {match.group(1)!r} of src/{target_layer}/,"
                    " which is not in HACKING.md's layer order"
                )
            elif rank[target_layer] > rank[layer]:
                problems.append(
                    f"{where}:{number}: src/{layer}/ includes {match.group(1)!r}"
                    f" of the higher src/{target_layer}/ (order: {' < '.join(order)})"
                )
    return problems


def main(argv: list[str]) -> int:
    root = Path(argv[1]) if len(argv) > 1 else Path(__file__).resolve().parent.parent
    problems = back_arrows(root)
    for problem in problems:
        print(problem)
    if problems:
        print(f"{len(problems)} include(s) against the layer order", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
