"""velkan under tiktoken's names: install_as_tiktoken() and the
VELKAN_AS_TIKTOKEN=1 opt-in, with tiktoken installed and without it. Library-
style client code (tiktoken_clients.py) runs in processes of its own and must
give what it gives under tiktoken."""

import hashlib
import json
import os
import subprocess
import sys
import sysconfig

import pytest

import velkan
from reference import ALL_VOCABULARIES, HERE, rank_file_bytes

CLIENTS = os.path.join(HERE, "tiktoken_clients.py")
_URL = "https://openaipublic.blob.core.windows.net/encodings/%s.tiktoken"
SITE = sysconfig.get_paths()["purelib"]
HOOK_FILES = ("velkan_as_tiktoken.pth", "_velkan_as_tiktoken.py")


@pytest.fixture(scope="module")
def tiktoken_cache(tmp_path_factory):
    """tiktoken's download cache, filled from this repository's rank files."""
    cache = tmp_path_factory.mktemp("tiktoken-cache")
    for name in ALL_VOCABULARIES:
        key = hashlib.sha1((_URL % name).encode()).hexdigest()
        (cache / key).write_bytes(rank_file_bytes(name))
    return str(cache)


@pytest.fixture(scope="module")
def without_tiktoken(tmp_path_factory):
    """The interpreter of a virtual environment that has velkan (and its hook)
    but no tiktoken: links to this environment's packages, tiktoken's left out."""
    for name in HOOK_FILES:
        assert os.path.exists(os.path.join(SITE, name)), "the package installs %s" % name
    venv = tmp_path_factory.mktemp("no-tiktoken") / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--without-pip", str(venv)], check=True)
    python = str(venv / "bin" / "python")
    target = subprocess.run(
        [python, "-c", "import sysconfig; print(sysconfig.get_paths()['purelib'])"],
        capture_output=True,
        text=True,
        check=True,
    ).stdout.strip()
    import regex

    for path in [os.path.dirname(velkan.__file__), os.path.dirname(regex.__file__)] + [
        os.path.join(SITE, name) for name in HOOK_FILES
    ]:
        os.symlink(path, os.path.join(target, os.path.basename(path)))
    assert run(python, ["-c", "import tiktoken"], {}, check=False).returncode != 0
    return python


def run(python, args, env, check=True):
    environment = {k: v for k, v in os.environ.items() if k != "VELKAN_AS_TIKTOKEN"}
    environment.update(env)
    out = subprocess.run(
        [python, *args], capture_output=True, text=True, env=environment, timeout=300
    )
    if check and out.returncode != 0:
        pytest.fail("%s exited with %d:\n%s" % (args, out.returncode, out.stderr), pytrace=False)
    return out


def clients(python, how, cache):
    env = {"TIKTOKEN_CACHE_DIR": cache}
    if how == "install":
        args = [
            "-c",
            "import runpy, velkan; velkan.install_as_tiktoken(); "
            "runpy.run_path(%r, run_name='__main__')" % CLIENTS,
        ]
    else:
        args = [CLIENTS]
        if how == "environment":
            env["VELKAN_AS_TIKTOKEN"] = "1"
    return json.loads(run(python, args, env).stdout)


@pytest.fixture(scope="module")
def expected(tiktoken_cache):
    pytest.importorskip("tiktoken")
    out = clients(sys.executable, "plain", tiktoken_cache)
    assert out.pop("impl") == "tiktoken"
    return out


@pytest.mark.parametrize("how", ["install", "environment"])
@pytest.mark.parametrize("installed", [True, False], ids=["tiktoken-present", "tiktoken-absent"])
def test_clients_get_velkan_and_tiktoken_s_results(
    how, installed, expected, tiktoken_cache, request
):
    python = sys.executable if installed else request.getfixturevalue("without_tiktoken")
    out = clients(python, how, tiktoken_cache)
    assert out.pop("impl") == "velkan"
    assert out.keys() == expected.keys()
    for key in expected:
        assert out[key] == expected[key], key


@pytest.mark.parametrize("value", ["", "0", "off", "False"])
def test_the_hook_is_off_unless_asked(value, tiktoken_cache):
    pytest.importorskip("tiktoken")
    code = "import sys, tiktoken; print(tiktoken.Encoding.__module__, 'velkan' in sys.modules)"
    out = run(sys.executable, ["-c", code], {"VELKAN_AS_TIKTOKEN": value}).stdout.split()
    assert out == ["tiktoken.core", "False"]


def test_the_hook_imports_velkan_only_with_tiktoken(without_tiktoken):
    code = (
        "import sys; before = 'velkan' in sys.modules; import tiktoken.load; "
        "print(before, tiktoken.load.__name__, sys.modules['tiktoken'] is tiktoken)"
    )
    out = run(without_tiktoken, ["-c", code], {"VELKAN_AS_TIKTOKEN": "1"}).stdout.split()
    assert out == ["False", "velkan.load", "True"]
    out = run(without_tiktoken, ["-c", "import tiktoken"], {}, check=False)
    assert "No module named 'tiktoken'" in out.stderr


MODULES = """
import importlib, importlib.util, sys, velkan
velkan.install_as_tiktoken()
first = {n: m for n, m in sys.modules.items() if n.split('.')[0] in ('tiktoken', 'tiktoken_ext')}
velkan.install_as_tiktoken()
import tiktoken, tiktoken.core, tiktoken.load, tiktoken.model, tiktoken.registry
import tiktoken_ext, tiktoken_ext.openai_public
from tiktoken import core, load, model, registry
importlib.reload(tiktoken)
again = {n: m for n, m in sys.modules.items() if n.split('.')[0] in ('tiktoken', 'tiktoken_ext')}
assert first == again, (first, again)
assert importlib.util.find_spec('tiktoken') is tiktoken.__spec__
assert tiktoken.core is velkan.core and tiktoken.load is velkan.load
assert tiktoken.model is velkan.model and tiktoken.registry is velkan.registry
assert tiktoken_ext.openai_public is velkan.openai_public
assert tiktoken.get_encoding is velkan.get_encoding and tiktoken.Encoding is velkan.Encoding
assert tiktoken.__version__ == '0.14.0' and tiktoken.__velkan_version__ == velkan.__version__
try:
    import tiktoken._tiktoken
except ImportError:
    pass
else:
    raise AssertionError('tiktoken._tiktoken imported')
print(sorted(first))
"""


@pytest.mark.parametrize("installed", [True, False], ids=["tiktoken-present", "tiktoken-absent"])
def test_install_registers_every_module_once(installed, request):
    python = sys.executable if installed else request.getfixturevalue("without_tiktoken")
    out = run(python, ["-c", MODULES], {}).stdout
    assert eval(out) == [
        "tiktoken",
        "tiktoken.core",
        "tiktoken.load",
        "tiktoken.model",
        "tiktoken.registry",
        "tiktoken_ext",
        "tiktoken_ext.openai_public",
    ]


@pytest.mark.parametrize(
    "first",
    ["import tiktoken", "import tiktoken.load", "import tiktoken_ext.openai_public"],
)
def test_install_refuses_when_tiktoken_is_imported(first):
    pytest.importorskip("tiktoken")
    code = (
        first + "\nimport sys, velkan\n"
        "before = dict(sys.modules)\n"
        "try:\n"
        "    velkan.install_as_tiktoken()\n"
        "except RuntimeError as e:\n"
        "    print(e)\n"
        "assert dict(sys.modules) == before\n"
        "import tiktoken; assert tiktoken.Encoding.__module__ == 'tiktoken.core'\n"
    )
    out = run(sys.executable, ["-c", code], {}).stdout
    assert "velkan.install_as_tiktoken(): a different tiktoken is imported already" in out
    assert "Call install_as_tiktoken() before anything imports tiktoken" in out


def test_plugins_are_found_through_the_namespace(tmp_path, without_tiktoken):
    # A third-party plugin in a tiktoken_ext folder of its own, building an
    # encoding on a built-in one's ranks.
    (tmp_path / "tiktoken_ext").mkdir()
    (tmp_path / "tiktoken_ext" / "my_plugin.py").write_text(
        "import tiktoken\n"
        "def mine():\n"
        "    base = tiktoken.get_encoding('cl100k_base')\n"
        "    return {'name': 'mine', 'pat_str': base._pat_str,\n"
        "            'mergeable_ranks': base._mergeable_ranks,\n"
        "            'special_tokens': {'<|mine|>': 100300}}\n"
        "ENCODING_CONSTRUCTORS = {'mine': mine}\n"
    )
    code = (
        "import velkan; velkan.install_as_tiktoken(); import tiktoken, tiktoken.registry\n"
        "enc = tiktoken.get_encoding('mine')\n"
        "assert enc is tiktoken.get_encoding('mine') is tiktoken.registry.ENCODINGS['mine']\n"
        "assert 'mine' in tiktoken.registry.ENCODING_CONSTRUCTORS\n"
        "print(enc.encode('hi <|mine|>', allowed_special='all'))\n"
        "try:\n"
        "    tiktoken.get_encoding('nope')\n"
        "except ValueError as e:\n"
        "    print(str(e).splitlines()[0], str(e).splitlines()[-1])\n"
    )
    out = run(without_tiktoken, ["-c", code], {"PYTHONPATH": str(tmp_path)}).stdout.splitlines()
    assert out == [
        "[6151, 220, 100300]",
        "Unknown encoding nope. Plugins found: ['tiktoken_ext.my_plugin']",
    ]
