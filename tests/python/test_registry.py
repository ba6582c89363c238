"""The one table of vocabularies (VOCABULARIES in velkan/_encodings_data.py)
against everything derived from it: the built module's registry and
functions, the generated stub lines, the rule-set names the module takes,
the rank files, and the rest of the tree, which must not restate a fact."""

import ast
import hashlib
import importlib.util
import inspect
import os
import subprocess

import pytest

import velkan.bpe.openai as openai
from reference import RANKS, ROOT
from velkan import _encodings_data as table

STUBS = os.path.join(ROOT, "src", "velkan", "bpe", "openai.pyi")
GENERATOR = os.path.join(ROOT, "src", "vocab", "gen_vocab.py")
VOCABULARIES = list(table.VOCABULARIES.values())


def generator():
    found = importlib.util.spec_from_file_location("gen_vocab", GENERATOR)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def stub_functions():
    """The module-level functions of the stub file: name -> (parameters, return)."""
    with open(STUBS, encoding="utf-8") as f:
        tree = ast.parse(f.read())
    return {
        node.name: ([a.arg for a in node.args.args], ast.unparse(node.returns))
        for node in tree.body
        if isinstance(node, ast.FunctionDef)
    }


def test_generated_stub_lines_are_current():
    with open(STUBS, encoding="utf-8") as f:
        text = f.read()
    assert generator().stubs_with_lines(text) == text, "run: python src/vocab/gen_vocab.py --stubs"


def test_module_registry_is_the_table():
    assert [(name, image) for name, image, _count in openai._vocabularies()] == [
        (v.name, v.image_file) for v in VOCABULARIES
    ]


@pytest.mark.parametrize("v", VOCABULARIES, ids=lambda v: v.short)
def test_every_vocabulary_has_its_functions_and_stubs(v):
    stubs = stub_functions()
    for name, returns in ((v.name, "Tokenizer"), ("is_cached_" + v.short, "bool")):
        function = getattr(openai, name)
        assert list(inspect.signature(function).parameters) == []
        assert function.__doc__ and v.name in function.__doc__
        assert stubs[name] == ([], returns)
    assert isinstance(openai.is_cached_r50k(), bool)


def test_stubs_name_every_function_and_no_other():
    # The private ones too, which stubtest passes over.
    functions = {
        name
        for name, value in vars(openai).items()
        if callable(value) and not isinstance(value, type) and not name.startswith("__")
    }
    assert set(stub_functions()) == functions


def test_rule_set_names_are_the_modules():
    # Each name is taken; anything else is refused with every name, in order.
    ranks = [bytes([b]) for b in range(256)]
    for name in table.RULE_SETS:
        assert openai._from_ranks("t", ranks, name).encode(b"ab") == [97, 98]
        assert repr(name) in openai._from_ranks.__doc__
        assert repr(name) in openai._with_rule_set.__doc__
    assert set(table.PATTERN_RULE_SETS.values()) | {"whole"} == set(table.RULE_SETS)
    choices = ", ".join(map(repr, table.RULE_SETS[:-1])) + " or " + repr(table.RULE_SETS[-1])
    with pytest.raises(ValueError) as error:
        openai._from_ranks("t", ranks, "R50K")
    assert str(error.value) == "_from_ranks: t: unknown rule set 'R50K' (expected %s)" % choices


@pytest.mark.parametrize("v", VOCABULARIES, ids=lambda v: v.short)
def test_vocabulary_agrees_with_its_encodings(v):
    namesake = table.ENCODINGS[v.name]
    assert namesake.rank_file == v.name
    assert namesake.rule_set == v.rule_set
    assert table.SHORT_NAMES[v.short] == v.name
    for facts in table.ENCODINGS.values():
        if facts.rank_file == v.name:
            assert facts.rank_file_sha256 == v.rank_sha256
    if v.base is not None:
        assert table.VOCABULARIES[v.base].base is None


@pytest.mark.parametrize("v", VOCABULARIES, ids=lambda v: v.short)
def test_rank_files_have_the_tables_sha256(v):
    digest = hashlib.sha256()
    for part in ([table.VOCABULARIES[v.base]] if v.base else []) + [v]:
        with open(os.path.join(RANKS, part.data_file), "rb") as f:
            digest.update(f.read())
    assert digest.hexdigest() == v.rank_sha256


def test_every_encoding_names_a_vocabulary():
    assert {f.rank_file for f in table.ENCODINGS.values()} == set(table.VOCABULARIES)


def test_each_digest_is_written_once():
    # A SHA-256 or image digest copied into a second file goes stale there.
    if not os.path.exists(os.path.join(ROOT, ".git")):
        pytest.skip("not a git checkout (an unpacked sdist)")
    out = subprocess.run(
        ["git", "grep", "-l", "-I"]
        + [arg for v in VOCABULARIES for arg in ("-e", v.rank_sha256, "-e", v.image_digest)],
        cwd=ROOT,
        capture_output=True,
        text=True,
    )
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == ["src/velkan/_encodings_data.py"]
    with open(os.path.join(ROOT, "src", "velkan", "_encodings_data.py"), encoding="utf-8") as f:
        text = f.read()
    for v in VOCABULARIES:
        assert text.count(v.rank_sha256) == 1 and text.count(v.image_digest) == 1, v.name
