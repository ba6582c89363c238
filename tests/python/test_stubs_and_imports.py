"""The binding as Python tools see it: text signatures and docstrings on
every method, the hand-written stubs against the built module, and the
submodule found by every spelling of the import, in every interpreter."""

import inspect
import os
import subprocess
import sys
import textwrap

import pytest

import velkan.bpe
import velkan.bpe.openai as openai
from reference import HERE
from velkan.bpe import BytePairEncoding
from velkan.bpe.openai import ParallelOptions, Tokenizer

PARAMETERS = {
    (Tokenizer, "count"): ["self", "text"],
    (Tokenizer, "count_till_limit"): ["self", "text", "limit"],
    (Tokenizer, "count_batch"): ["self", "texts", "num_threads"],
    (Tokenizer, "encode"): ["self", "text"],
    (Tokenizer, "encode_batch"): ["self", "texts"],
    (Tokenizer, "encode_batch_parallel"): [
        "self",
        "texts",
        "options",
        "num_threads",
        "specials",
        "allowed_special",
        "disallowed_special",
    ],
    (Tokenizer, "encode_batch_flat"): [
        "self",
        "texts",
        "num_threads",
        "specials",
        "allowed_special",
        "disallowed_special",
    ],
    (Tokenizer, "encode_special"): [
        "self",
        "text",
        "specials",
        "allowed_special",
        "disallowed_special",
    ],
    (Tokenizer, "decode"): ["self", "ids"],
    (Tokenizer, "decode_batch"): ["self", "batch"],
    (Tokenizer, "decode_batch_parallel"): ["self", "batch", "options"],
    (Tokenizer, "bpe"): ["self"],
    (BytePairEncoding, "count"): ["self", "data"],
    (BytePairEncoding, "encode_via_backtracking"): ["self", "data"],
    (BytePairEncoding, "decode_tokens"): ["self", "ids"],
}


@pytest.mark.parametrize("cls, name", PARAMETERS)
def test_methods_have_signatures_and_docstrings(cls, name):
    method = getattr(cls, name)
    signature = inspect.signature(method)
    assert list(signature.parameters) == PARAMETERS[cls, name]
    # Positional only, as the methods parse them; options after them by keyword.
    kinds = [p.kind for p in signature.parameters.values()]
    assert kinds == sorted(kinds)
    assert set(kinds) <= {inspect.Parameter.POSITIONAL_ONLY, inspect.Parameter.KEYWORD_ONLY}
    assert len(inspect.getdoc(method)) > 30


def test_types_and_modules_are_documented():
    for thing in (Tokenizer, BytePairEncoding, ParallelOptions, velkan.bpe, openai):
        assert thing.__doc__
    assert list(inspect.signature(ParallelOptions).parameters) == [
        "min_batch_size",
        "chunk_size",
        "max_threads",
    ]


@pytest.mark.parametrize("cls", [Tokenizer, BytePairEncoding])
@pytest.mark.parametrize("args, kwargs", [((1,), {}), ((1, 2), {"x": 3}), ((), {"x": 3})])
def test_constructors_take_no_arguments(cls, args, kwargs):
    with pytest.raises(TypeError, match=rf"^{cls.__name__}\(\) takes no arguments$"):
        cls(*args, **kwargs)
    cls()  # without arguments: an empty object, as before


def test_stubs_match_the_module(tmp_path):
    pytest.importorskip("mypy.stubtest")
    out = subprocess.run(
        [sys.executable, "-m", "mypy.stubtest", "velkan.bpe", "--mypy-config-file", os.devnull],
        capture_output=True,
        text=True,
        cwd=tmp_path,
        timeout=300,
        env={**os.environ, "MYPY_CACHE_DIR": str(tmp_path / "cache")},
    )
    assert out.returncode == 0, out.stdout + out.stderr


def test_stubs_pass_mypy_strict(tmp_path):
    pytest.importorskip("mypy")
    # A user of every method, checked against the stubs, the stubs included.
    user = tmp_path / "user.py"
    user.write_text(
        textwrap.dedent("""
        from typing import List, Optional, Tuple
        import velkan.bpe.openai as openai

        def use(tok: openai.Tokenizer) -> Tuple[List[int], List[Optional[str]]]:
            texts: List[str] = ["a", "b"]
            data: List[bytes] = [b"a"]
            counts = tok.count_batch(texts) + tok.count_batch(data)
            ids, _, _ = tok.encode_batch(texts)
            more, _, _, _ = tok.encode_batch_parallel([bytearray(b"x")])
            decoded = tok.decode_batch(ids) + tok.decode_batch([(1, 2)])
            one: Optional[str] = tok.decode(range(3))
            return counts + tok.encode(memoryview(b"x")), decoded + [one]
    """)
    )
    # The installed stubs, copied beside the user as a package of their own:
    # mypy reports nothing inside installed packages.
    installed = os.path.join(os.path.dirname(velkan.bpe.__file__), "bpe")
    (tmp_path / "velkan" / "bpe").mkdir(parents=True)
    (tmp_path / "velkan" / "__init__.pyi").write_text("")
    stubs = []
    for name in ("__init__.pyi", "openai.pyi"):
        with open(os.path.join(installed, name)) as f:
            (tmp_path / "velkan" / "bpe" / name).write_text(f.read())
        stubs.append(os.path.join("velkan", "bpe", name))
    out = subprocess.run(
        [
            sys.executable,
            "-m",
            "mypy",
            "--strict",
            "--cache-dir",
            str(tmp_path / "cache"),
            "user.py",
            *stubs,
        ],
        capture_output=True,
        text=True,
        cwd=tmp_path,
        timeout=300,
    )
    assert out.returncode == 0, out.stdout + out.stderr


IMPORT_AGAIN = """
    import sys
    for name in [name for name in sys.modules if name.startswith("velkan")]:
        del sys.modules[name]
    import velkan.bpe.openai as again
    from velkan.bpe import openai as same
    assert again is same and again.cl100k_base().encode("hi") == EXPECTED
"""


@pytest.mark.parametrize(
    "where",
    ["after clearing sys.modules", "_testcapi", "_xxsubinterpreters", "_interpreters", "reload"],
)
def test_import_in_every_interpreter(where):
    expected = openai.cl100k_base().encode("hi")
    inner = textwrap.dedent(IMPORT_AGAIN).replace("EXPECTED", repr(expected))
    code = {
        "after clearing sys.modules": "import velkan.bpe.openai\n" + inner,
        "_testcapi": f"import velkan.bpe.openai\nimport _testcapi\n"
        f"assert _testcapi.run_in_subinterp({inner!r}) == 0",
        "_xxsubinterpreters": f"import velkan.bpe.openai\nimport _xxsubinterpreters as i\n"
        f"i.run_string(i.create(), {inner!r})",
        # Its name from 3.13 on, where a failure is returned rather than
        # raised. The interpreter shares the main one's lock: velkan.bpe
        # declares no support for one with its own (the default, "isolated").
        "_interpreters": f"import velkan.bpe.openai\nimport _interpreters as i\n"
        f"failure = i.run_string(i.create('legacy'), {inner!r})\nassert failure is None, failure",
        "reload": "import importlib, velkan.bpe, velkan.bpe.openai as first\n"
        "importlib.reload(velkan.bpe)\n"
        "import velkan.bpe.openai as o\n"
        f"assert o.Tokenizer is first.Tokenizer and o.cl100k_base().encode('hi') == "
        f"{expected!r}",
    }[where]
    module = where if where.startswith("_") else None
    if module is not None:
        try:
            __import__(module)
        except ImportError:
            pytest.skip(f"{module} is not available")
    out = subprocess.run(
        [sys.executable, "-c", code + "\nprint('ok')"],
        capture_output=True,
        text=True,
        timeout=120,
        env={**os.environ, "PYTHONPATH": HERE},
    )
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == ["ok"]
