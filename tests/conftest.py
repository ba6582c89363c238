"""Suite-wide set-up: a private image cache, and the slow packaging test only
on request."""

import atexit
import os
import shutil
import tempfile

import pytest

# Every test, and every process a test starts, writes and reads cached images
# here and never in the user's cache directory.
_CACHE = tempfile.mkdtemp(prefix="velkan-test-cache-")
os.environ["VELKAN_CACHE_DIR"] = _CACHE
# Registered before velkan is imported, so it runs after velkan's own exit
# handler has let a background image write finish.
atexit.register(shutil.rmtree, _CACHE, True)


def pytest_collection_modifyitems(config, items):
    wanted = os.environ.get("VELKAN_PACKAGING") == "1" or "packaging" in (
        config.getoption("markexpr") or ""
    )
    if wanted:
        return
    skip = pytest.mark.skip(reason="packaging test: VELKAN_PACKAGING=1 or -m packaging runs it")
    for item in items:
        if "packaging" in item.keywords:
            item.add_marker(skip)
