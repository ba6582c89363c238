"""The first cl100k_base() / o200k_base() of a process under an address-space
limit (RLIMIT_AS, as `ulimit -v` sets): every limit raises MemoryError (the
process never dies, e.g. with status 127 from a helper thread's first
exception), and the same process works once the limit is lifted. Each case
runs in a fresh interpreter, with images and without."""

import json
import subprocess
import sys

import pytest
from sizes import ADDRESS_SPACE_LIMITS, CHECKED, NO_ADDRESS_SPACE_LIMITS

# The sanitizer reserves far more address space than any limit here leaves.
pytestmark = [
    pytest.mark.skipif(CHECKED, reason="the sanitizer reserves more address space than the limit"),
    pytest.mark.skipif(not ADDRESS_SPACE_LIMITS, reason=NO_ADDRESS_SPACE_LIMITS),
]

resource = pytest.importorskip("resource")

CHILD = r"""
import json, resource, sys
name, extra_mb, use_images = sys.argv[1], int(sys.argv[2]), sys.argv[3] == "1"
import velkan.images
if not use_images:
    velkan.images._image_paths = lambda _name: []
import velkan.bpe.openai as openai
make = getattr(openai, name)
with open("/proc/self/status") as f:
    vm = next(int(l.split()[1]) * 1024 for l in f if l.startswith("VmSize:"))
soft, hard = resource.getrlimit(resource.RLIMIT_AS)
resource.setrlimit(resource.RLIMIT_AS, (vm + extra_mb * 2**20, hard))
try:
    make()
    outcome = "made"
except MemoryError:
    outcome = "MemoryError"
resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
ids = make().encode("hello world")
print(json.dumps({"outcome": outcome, "ids": ids}))
"""

EXPECTED = {"cl100k_base": [15339, 1917], "o200k_base": [24912, 2375]}


def run(name, extra_mb, use_images):
    proc = subprocess.run(
        [sys.executable, "-c", CHILD, name, str(extra_mb), "1" if use_images else "0"],
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert proc.returncode == 0, (name, extra_mb, use_images, proc.returncode, proc.stderr[-2000:])
    return json.loads(proc.stdout)


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc/self/status")
@pytest.mark.parametrize("name", ["cl100k_base", "o200k_base"])
@pytest.mark.parametrize("use_images", [False, True], ids=["build", "image"])
def test_first_use_under_a_memory_limit(name, use_images):
    outcomes = set()
    for extra_mb in (8, 16, 24, 40, 64, 96, 128):
        result = run(name, extra_mb, use_images)
        assert result["ids"] == EXPECTED[name]
        outcomes.add(result["outcome"])
    # The sweep must reach the failure it is about.
    assert "MemoryError" in outcomes
