"""Sizes of the heavy tests. tools/sanitize.sh sets VELKAN_TEST_PROFILE=checked:
under the sanitizers every native call is many times slower, so the load tests
take smaller inputs and fewer rounds, and the RSS checks, which the sanitizer's
own allocator makes meaningless, are skipped."""

import os

CHECKED = os.environ.get("VELKAN_TEST_PROFILE") == "checked"


def size(normal, checked):
    return checked if CHECKED else normal
