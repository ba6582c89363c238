"""The import graph of velkan's own modules, read from the source with ast:
every import counts, those inside functions and under TYPE_CHECKING too
(they are the ones that hide a circle). The graph has no cycle, and the
library does not import the command line."""

import ast
import os
import subprocess
import sys

import pytest

from reference import ROOT

PACKAGE = os.path.join(ROOT, "src", "velkan")

# Edges that close a circle and are known; none are left. Any edge that
# closes a circle fails, and so does an entry here that no longer exists.
KNOWN_CYCLE_EDGES: set[tuple[str, str]] = set()

# `python -m velkan` runs the command line, as the console script does.
CLI_ENTRY_POINTS = {"velkan.__main__"}


def _modules(package=PACKAGE):
    """{module name: (path, is package)} for every module of the package
    folder; the extension's modules, known by their stubs, import nothing."""
    found = {}
    root = os.path.dirname(package)
    for folder, _dirs, files in os.walk(package):
        for name in files:
            stem, suffix = os.path.splitext(name)
            if suffix not in (".py", ".pyi"):
                continue
            path = os.path.join(folder, name)
            parts = os.path.relpath(os.path.join(folder, stem), root).split(os.sep)
            is_package = parts[-1] == "__init__"
            module = ".".join(parts[:-1] if is_package else parts)
            if suffix == ".py" or module not in found:
                found[module] = (path if suffix == ".py" else None, is_package)
    return found


def _imports(modules):
    """{module: {the velkan modules it imports}}. `from P import x` imports
    P.x when that is a module, else P itself."""
    graph = {}
    for module, (path, is_package) in modules.items():
        edges = graph[module] = set()
        if path is None:
            continue
        package = module if is_package else module.rpartition(".")[0]
        with open(path, encoding="utf-8") as f:
            tree = ast.parse(f.read(), path)
        for node in ast.walk(tree):
            if isinstance(node, ast.Import):
                for alias in node.names:
                    name = alias.name
                    while name and name not in modules:
                        name = name.rpartition(".")[0]
                    if name:
                        edges.add(name)
            elif isinstance(node, ast.ImportFrom):
                base = node.module or ""
                if node.level:
                    parts = package.split(".")
                    parts = parts[: len(parts) - node.level + 1]
                    base = ".".join(parts + ([base] if base else []))
                for alias in node.names:
                    full = base + "." + alias.name
                    if full in modules:
                        edges.add(full)
                    elif base in modules:
                        edges.add(base)
        edges.discard(module)
    return graph


def _cycle(graph):
    """One cycle of the graph as a list of modules (first = last), or None."""
    state = {}  # 1: on the current path, 2: done
    path = []

    def visit(module):
        state[module] = 1
        path.append(module)
        for target in sorted(graph[module]):
            if state.get(target) == 1:
                return path[path.index(target) :] + [target]
            if target not in state:
                found = visit(target)
                if found:
                    return found
        path.pop()
        state[module] = 2
        return None

    for module in sorted(graph):
        if module not in state:
            found = visit(module)
            if found:
                return found
    return None


@pytest.fixture(scope="module")
def graph():
    return _imports(_modules())


def test_the_source_tree_is_read(graph):
    # A test that reads nothing finds no cycle either.
    assert {"velkan", "velkan.encoding", "velkan.cli", "velkan.cli.app"} <= set(graph)
    assert "velkan.cli.records" in graph["velkan.cli.count"]


def test_the_import_graph_has_no_cycle(graph):
    stale = sorted(e for e in KNOWN_CYCLE_EDGES if e[1] not in graph.get(e[0], ()))
    assert not stale, "no longer imported: remove from KNOWN_CYCLE_EDGES: %s" % stale
    rest = {
        m: {t for t in targets if (m, t) not in KNOWN_CYCLE_EDGES} for m, targets in graph.items()
    }
    cycle = _cycle(rest)
    assert cycle is None, "import cycle: %s" % " -> ".join(cycle)


def test_only_the_command_line_imports_it(graph):
    outside = sorted(
        (m, t)
        for m, targets in graph.items()
        if m != "velkan.cli" and not m.startswith("velkan.cli.") and m not in CLI_ENTRY_POINTS
        for t in targets
        if t == "velkan.cli" or t.startswith("velkan.cli.")
    )
    assert not outside, "the library imports the command line: %s" % outside


@pytest.mark.parametrize(
    "source, expected",
    [
        ("import velkan.cli.records\n", {"velkan.cli.records"}),
        (
            "def f():\n    from velkan.cli import records, main\n",
            {"velkan.cli.records", "velkan.cli"},
        ),
        (
            "from typing import TYPE_CHECKING\nif TYPE_CHECKING:\n    from .. import encoding\n",
            {"velkan.encoding"},
        ),
        ("from .. import __version__\n", {"velkan"}),
        ("import velkan.bpe.openai as openai\nimport numpy\n", {"velkan.bpe"}),
    ],
    ids=["import", "inside a function", "type checking, relative", "the package", "native"],
)
def test_every_kind_of_import_is_an_edge(tmp_path, source, expected):
    for name in (
        "__init__.py",
        "encoding.py",
        "cli/__init__.py",
        "cli/records.py",
        "bpe/__init__.pyi",
    ):
        (tmp_path / "velkan" / name).parent.mkdir(parents=True, exist_ok=True)
        (tmp_path / "velkan" / name).write_text("")
    (tmp_path / "velkan" / "cli" / "probe.py").write_text(source)
    graph = _imports(_modules(str(tmp_path / "velkan")))
    assert graph["velkan.cli.probe"] == expected


def test_a_new_cycle_is_found():
    graph = {"a": {"b"}, "b": {"c"}, "c": {"a"}, "d": {"a"}}
    assert _cycle(graph) == ["a", "b", "c", "a"]
    assert _cycle({"a": {"b"}, "b": set()}) is None


def test_stream_reads_no_private_member_of_encoding(graph):
    assert not {"velkan.core", "velkan.encoding"} & graph["velkan._stream"]
    # It gets a backend and resolved token sets instead (Encoding.stream).
    with open(os.path.join(PACKAGE, "_stream.py"), encoding="utf-8") as f:
        source = f.read()
    assert "enc._" not in source


@pytest.mark.parametrize(
    "module, names",
    [
        (
            "velkan.encoding",
            [
                "Encoding",
                "get_encoding",
                "list_encoding_names",
                "encoding_for_model",
                "encoding_name_for_model",
                "raise_disallowed_special_token",
            ],
        ),
        ("velkan.core", ["Encoding", "raise_disallowed_special_token"]),
        ("velkan.registry", ["ENCODINGS", "ENCODING_CONSTRUCTORS", "Encoding", "get_encoding"]),
        ("velkan.model", ["MODEL_TO_ENCODING", "encoding_for_model", "get_encoding"]),
    ],
)
def test_names_stay_where_they_were(module, names):
    import importlib

    import velkan

    found = importlib.import_module(module)
    for name in names:
        assert hasattr(found, name), name
        if hasattr(velkan, name):
            assert getattr(found, name) is getattr(velkan, name), name


def test_a_pickle_that_names_the_old_module_loads():
    import pickle

    import velkan

    enc = velkan.get_encoding("cl100k_base")
    # Protocol 0 names the class as a line of text.
    old = pickle.dumps(enc, 0).replace(b"velkan.core", b"velkan.encoding")
    assert b"velkan.encoding" in old
    back = pickle.loads(old)
    assert back.encode("hello world") == enc.encode("hello world")


def test_a_pickled_name_this_build_lacks_is_refused_clearly():
    import velkan
    from velkan.core import Encoding

    enc = Encoding.__new__(Encoding)
    with pytest.raises(ValueError, match="Unknown encoding nope.\nEncodings velkan"):
        enc.__setstate__("nope")
    assert "nope" not in velkan.registry.ENCODINGS


# Standard modules `import velkan` once pulled in for calls most programs
# never make, each a few milliseconds of every start (concurrent.futures
# brings logging; importlib.abc brings importlib.resources).
DEFERRED = [
    "concurrent.futures",
    "logging",
    "tempfile",
    "hashlib",
    "json",
    "importlib.abc",
    "pkgutil",
]


@pytest.mark.parametrize("statement", ["import velkan", "import velkan.bpe.openai"])
def test_import_defers_what_few_calls_need(statement):
    probe = "import sys; before = set(sys.modules); %s; print(sorted(set(sys.modules) - before))"
    out = subprocess.run(
        [sys.executable, "-c", probe % statement], capture_output=True, text=True, check=True
    )
    new = ast.literal_eval(out.stdout)
    assert [m for m in DEFERRED if m in new] == []
