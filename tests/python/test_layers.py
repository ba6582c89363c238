"""The native layer check (tools/check_layers.py, run by tools/lint.sh): the
tree has no include that points up, and the checker finds the ones it must
(so a passing tree is not a checker that sees nothing)."""

import importlib.util
import os
import subprocess
import sys

import pytest

from reference import ROOT

CHECKER = os.path.join(ROOT, "tools", "check_layers.py")


def _checker():
    found = importlib.util.spec_from_file_location("check_layers", CHECKER)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def test_the_tree_includes_one_way():
    run = subprocess.run([sys.executable, CHECKER], capture_output=True, text=True)
    assert run.returncode == 0, run.stdout + run.stderr


ORDER = "Native layers, lowest first: `low/` → `mid/` → `high/`.\n"


@pytest.mark.parametrize(
    "files, expected",
    [
        # Down and sideways within a folder: fine.
        ({"high/h.cc": '#include "mid/m.h"\n#include "low/l.h"\n', "mid/m.h": ""}, []),
        ({"mid/m.cc": '#include "m.h"\n', "mid/m.h": '#include "low/l.h"\n'}, []),
        # Up, by folder path, by a relative path, and from a nested folder.
        (
            {"low/l.cc": '#include "low/l.h"\n\n#include "high/h.h"\n', "high/h.h": ""},
            ["src/low/l.cc:3: src/low/ includes 'high/h.h' of the higher src/high/"],
        ),
        (
            {"low/l.h": '  #  include "../mid/m.h"\n', "mid/m.h": ""},
            ["src/low/l.h:1: src/low/ includes '../mid/m.h' of the higher src/mid/"],
        ),
        (
            {"mid/sub/s.cc": '#include "high/h.h"\n', "high/h.h": ""},
            ["src/mid/sub/s.cc:1: src/mid/ includes 'high/h.h' of the higher src/high/"],
        ),
        # Headers that are no file of src/ (system, third party, generated) are not layers.
        ({"low/l.cc": '#include "blake3.h"\n#include <vector>\n#include "vocab/embedded.h"\n'}, []),
        # A folder left out of the order is reported, whoever includes it.
        (
            {"extra/e.cc": "", "low/l.cc": '#include "extra/e.h"\n', "extra/e.h": ""},
            [
                "src/extra/e.cc: folder src/extra/ is not in HACKING.md's layer order",
                "src/extra/e.h: folder src/extra/ is not in HACKING.md's layer order",
                "src/low/l.cc:1: includes 'extra/e.h' of src/extra/, which is not in",
            ],
        ),
    ],
)
def test_checker_finds_includes_that_point_up(tmp_path, files, expected):
    (tmp_path / "HACKING.md").write_text("# notes\n\n" + ORDER, encoding="utf-8")
    for name, text in {"low/l.h": "", **files}.items():
        path = tmp_path / "src" / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text, encoding="utf-8")
    problems = _checker().back_arrows(tmp_path)
    assert len(problems) == len(expected), problems
    for problem, start in zip(problems, expected):
        assert problem.startswith(start), problems


def test_checker_needs_the_order_line(tmp_path):
    (tmp_path / "HACKING.md").write_text("# notes\n", encoding="utf-8")
    (tmp_path / "src").mkdir()
    with pytest.raises(SystemExit, match="Native layers, lowest first"):
        _checker().back_arrows(tmp_path)
