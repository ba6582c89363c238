"""Suite-wide set-up: a private image cache, and the slow tests only on
request."""

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


# Tests left out of the everyday run (it must stay quick), each run on request:
# by its marker (-m NAME) or its environment variable. CI runs both.
_ON_REQUEST = {"packaging": "VELKAN_PACKAGING", "slow": "VELKAN_SLOW"}


def pytest_collection_modifyitems(config, items):
    markexpr = config.getoption("markexpr") or ""
    for marker, variable in _ON_REQUEST.items():
        if os.environ.get(variable) == "1" or marker in markexpr:
            continue
        skip = pytest.mark.skip(reason=f"{marker} test: {variable}=1 or -m {marker} runs it")
        for item in items:
            if marker in item.keywords:
                item.add_marker(skip)
