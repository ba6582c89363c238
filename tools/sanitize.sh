#!/usr/bin/env bash
# Checked runs, after ./run_tests.sh has installed the system packages:
#   asan  the C++ tests and the whole Python suite against a build with
#         AddressSanitizer + UndefinedBehaviorSanitizer (extension in a venv of
#         its own, the ASan runtime preloaded into the interpreter);
#   tsan  the worker-pool and driver C++ tests under ThreadSanitizer. CPython is
#         not built for TSan, so the pool is exercised from C++ threads.
# Usage: tools/sanitize.sh [asan|tsan|all] [extra pytest arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
STAGE=${1:-all}
shift || true
# The real interpreter: a version-manager shim would run its shell under the
# preloaded runtime too.
PYTHON=$("${PYTHON:-python3}" -c 'import sys; print(sys.executable)')
GENERATOR=""
command -v ninja >/dev/null && GENERATOR="-G Ninja"

# Python's own allocations at exit are not leaks of ours; everything else stops
# at the first report.
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"

configure_tests() {  # folder, sanitizer list
  cmake -S . -B "$1" $GENERATOR -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKAN_SANITIZE="$2" \
    -DVELKAN_BUILD_TESTS=ON -DVELKAN_BUILD_EXTENSION=OFF -DPython_EXECUTABLE="$PYTHON" >/dev/null
  cmake --build "$1" --parallel
}

run_asan() {
  echo "== ASan+UBSan: C++ tests"
  configure_tests build/asan address,undefined
  ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" build/asan/velkan_tests --gtest_brief=1

  echo "== ASan+UBSan: Python tests"
  local venv=build/asan-venv
  # A venv of its own made from the interpreter running this script, with the
  # test tools installed into it: nothing leaks in from the base interpreter.
  [ -x "$venv/bin/python" ] || "$PYTHON" -m venv "$venv"
  "$venv/bin/python" -m pip install -q --disable-pip-version-check -r tests/requirements.txt
  "$venv/bin/python" -m pip install -q --disable-pip-version-check . -C build-dir=build/asan-ext \
    -C cmake.build-type=RelWithDebInfo -C cmake.define.VELKAN_SANITIZE=address,undefined
  local runtime
  runtime=$(g++ -print-file-name=libasan.so)
  # PYTHONMALLOC=malloc sends every object through ASan's allocator, so an
  # overrun of a list or bytes object is caught too. Leak checking is left to
  # the C++ run and the RSS/tracemalloc tests: the interpreter keeps much of
  # its memory until exit on purpose. Packaging tests (pip building wheels)
  # check no native code of ours and would only run pip under the sanitizer.
  LD_PRELOAD="$runtime" PYTHONMALLOC=malloc VELKAN_TEST_PROFILE=checked \
    ASAN_OPTIONS="detect_leaks=0:abort_on_error=1" \
    "$venv/bin/python" -m pytest tests/python -q -p no:cacheprovider --ignore=tests/python/test_packaging.py "$@"
}

run_tsan() {
  echo "== TSan: worker pool and driver"
  configure_tests build/tsan thread
  build/tsan/velkan_tests --gtest_brief=1 --gtest_filter='WorkerPool.*:*Driver.*'
}

case "$STAGE" in
  asan) run_asan "$@" ;;
  tsan) run_tsan ;;
  all) run_asan "$@"; run_tsan ;;
  *) echo "usage: $0 [asan|tsan|all] [pytest arguments]" >&2; exit 2 ;;
esac
