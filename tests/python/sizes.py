"""Sizes of the heavy tests. tools/sanitize.sh sets VELKAN_TEST_PROFILE=checked:
under the sanitizers every native call is many times slower, so the load tests
take smaller inputs and fewer rounds, and the RSS checks, which the sanitizer's
own allocator makes meaningless, are skipped."""

import os

CHECKED = os.environ.get("VELKAN_TEST_PROFILE") == "checked"


def _address_space_limit_takes() -> bool:
    # qemu-user (an aarch64 build run on x86, tools/wheels.sh) accepts
    # setrlimit(RLIMIT_AS) and keeps no limit: the tests that need an
    # allocation to fail under one could not meet it there.
    try:
        import resource
    except ImportError:
        return False
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    probe = (1 << 46) if hard == resource.RLIM_INFINITY else hard - 1
    try:
        resource.setrlimit(resource.RLIMIT_AS, (probe, hard))
        took = resource.getrlimit(resource.RLIMIT_AS)[0] == probe
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    except (ValueError, OSError):
        return False
    return took


# Whether an address-space limit holds here, and so in the children tests start.
ADDRESS_SPACE_LIMITS = _address_space_limit_takes()
NO_ADDRESS_SPACE_LIMITS = "setrlimit(RLIMIT_AS) keeps no limit here (qemu-user)"


def size(normal, checked):
    return checked if CHECKED else normal
