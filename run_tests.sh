#!/usr/bin/env bash
# Runs every test: installs what the tests need, builds and installs the
# package, builds and runs the C++ unit tests, then the Python tests.
set -euo pipefail
cd "$(dirname "$0")"
PYTHON=${PYTHON:-python3}

# GoogleTest comes from Debian's libgtest-dev.
if [ ! -f /usr/include/gtest/gtest.h ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq libgtest-dev ninja-build cmake >/dev/null
fi
"$PYTHON" -m pip install -q -r tests/requirements.txt
"$PYTHON" -m pip install -q .

BUILD=build/tests
GENERATOR=""
command -v ninja >/dev/null && [ ! -f "$BUILD/CMakeCache.txt" ] && GENERATOR="-G Ninja"
cmake -S . -B "$BUILD" $GENERATOR -DCMAKE_BUILD_TYPE=Release \
  -DVELKAN_BUILD_TESTS=ON -DVELKAN_BUILD_EXTENSION=OFF -DPython_EXECUTABLE="$(command -v "$PYTHON")" >/dev/null
cmake --build "$BUILD" --parallel
"$BUILD/velkan_tests" --gtest_brief=1

"$PYTHON" -m pytest tests -q "$@"
