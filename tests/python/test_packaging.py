"""The source distribution builds a working wheel on its own, in a fresh
environment, and the wheel carries the package and nothing else."""

import os
import subprocess
import sys
import tarfile
import zipfile

import pytest

from reference import HERE, ROOT

SDIST_MUST_HOLD = [
    "pyproject.toml",
    "CMakeLists.txt",
    "LICENSE",
    "README.md",
    "src/vocab/data/cl100k_base.tiktoken",
    "src/vocab/data/o200k_base.tiktoken",
    "src/vocab/data/r50k_base.tiktoken",
    "src/vocab/data/p50k_base.extra.tiktoken",
    "src/vocab/gen_vocab.py",
    "src/velkan/_encodings_data.py",
    "src/presplit/GeneralCategory-16.0.0.txt",
    "src/presplit/gen_categories.py",
    "src/presplit/category_tables.cc",
    "src/python/module.cc",
    "src/velkan/__init__.py",
    "src/as_tiktoken/velkan_as_tiktoken.pth",
    "src/as_tiktoken/_velkan_as_tiktoken.py",
    # the profile-guided build's training run and its texts
    "tools/pgo_train.py",
    "tools/pgo_profile.cmake",
    "benchmarks/corpora/english.txt",
    "benchmarks/corpora/cjk.txt",
]


def run(*args, **kwargs):
    out = subprocess.run(args, capture_output=True, text=True, timeout=1200, **kwargs)
    if out.returncode != 0:
        # The whole output: the cause is rarely in the last lines of a pip log.
        pytest.fail(
            "%s exited with %d\n--- stdout\n%s\n--- stderr\n%s"
            % (" ".join(map(str, args)), out.returncode, out.stdout, out.stderr),
            pytrace=False,
        )
    return out


@pytest.mark.packaging
def test_sdist_to_wheel_in_a_fresh_environment(tmp_path):
    run(sys.executable, "-m", "build", "--sdist", "--outdir", str(tmp_path / "dist"), ROOT)
    (sdist,) = (tmp_path / "dist").iterdir()
    with tarfile.open(sdist) as tar:
        names = {n.split("/", 1)[1] for n in tar.getnames() if "/" in n}
    assert not [n for n in SDIST_MUST_HOLD if n not in names]
    assert not [n for n in names if n.startswith(("build/", ".ci/")) or n.endswith(".so")]

    # A fresh environment of its own, made by the interpreter running this test
    # (whether or not that is a venv): the test tools from PyPI, the package
    # only from the wheel built out of the sdist.
    venv = tmp_path / "venv"
    run(sys.executable, "-m", "venv", str(venv))
    python = str(venv / "bin" / "python")
    run(
        python,
        "-m",
        "pip",
        "install",
        "-q",
        "--disable-pip-version-check",
        "-r",
        os.path.join(ROOT, "tests", "requirements.txt"),
    )
    run(python, "-m", "pip", "wheel", "--no-deps", "-w", str(tmp_path / "wheels"), str(sdist))
    (wheel,) = (tmp_path / "wheels").iterdir()
    with zipfile.ZipFile(wheel) as z:
        files = [n for n in z.namelist() if not n.startswith("velkan-")]
    # The package, and at the top of site-packages the opt-in hook
    # (VELKAN_AS_TIKTOKEN=1) and the module it imports.
    hook = ["_velkan_as_tiktoken.py", "velkan_as_tiktoken.pth"]
    assert sorted(n for n in files if not n.startswith("velkan/")) == hook, files
    leftovers = [
        n for n in files if not n.endswith((".py", ".pyi", ".so", "py.typed")) and n not in hook
    ]
    assert not leftovers
    print("wheel %s: %d bytes" % (wheel.name, wheel.stat().st_size))
    # Every embedded vocabulary included, the wheel stays small to download.
    assert wheel.stat().st_size < 3_000_000
    run(python, "-m", "pip", "install", "--no-deps", "--force-reinstall", str(wheel))

    location = run(python, "-c", "import velkan.bpe; print(velkan.bpe.__file__)").stdout
    assert str(venv) in location
    # The hook answers the variable in the installed environment.
    hooked = run(
        python,
        "-c",
        "import tiktoken; print(tiktoken.Encoding.__module__)",
        env=dict(os.environ, VELKAN_AS_TIKTOKEN="1"),
    ).stdout
    assert hooked.split() == ["velkan.core"]
    run(
        python,
        "-m",
        "pytest",
        "-q",
        "-p",
        "no:cacheprovider",
        HERE,
        "--ignore",
        os.path.join(HERE, "test_packaging.py"),
        cwd=str(tmp_path),
    )


def test_import_velkan_reaches_the_extension():
    out = subprocess.run(
        [sys.executable, "-c", "import velkan; print(velkan.bpe.openai.o200k_base().count('hi'))"],
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert out.stdout.split() == ["1"], out.stderr
