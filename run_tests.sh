#!/usr/bin/env bash
# The everyday test command: installs what is missing, builds and installs the
# package, builds and runs the C++ unit tests, then the Python tests.
#
# Python: the active virtual environment, or else ./.venv (made on first use
# from $PYTHON, default python3). System packages that are missing are
# installed with apt-get (through sudo when not root).
#
# Switches (environment variables):
#   VELKAN_WERROR=1     compiler warnings are errors (the CI build)
#   VELKAN_PACKAGING=1  also run the slow sdist -> wheel -> whole-suite test
# Extra arguments go to pytest, e.g. ./run_tests.sh -k cli -x
set -euo pipefail
cd "$(dirname "$0")"
START=$SECONDS
stage() { echo "==> [$((SECONDS - START)) s] $*"; }

PYTHON=${PYTHON:-python3}

# ---- system packages --------------------------------------------------------
stage "checking system packages"
missing=()
command -v c++ >/dev/null || missing+=(g++)
command -v cmake >/dev/null || missing+=(cmake)
command -v ninja >/dev/null || missing+=(ninja-build)
[ -f /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
# Headers and venv support belong to the interpreter: a distribution's python3
# needs python3-dev and python3-venv, a self-built one (pyenv) has both.
"$PYTHON" -c 'import os, sysconfig; os.stat(os.path.join(sysconfig.get_paths()["include"], "Python.h"))' \
  2>/dev/null || missing+=(python3-dev)
"$PYTHON" -c 'import ensurepip, venv' 2>/dev/null || missing+=(python3-venv)
if [ ${#missing[@]} -gt 0 ]; then
  stage "installing with apt-get: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# ---- Python environment ------------------------------------------------------
if "$PYTHON" -c 'import sys; sys.exit(sys.prefix == sys.base_prefix)'; then
  stage "using the active virtual environment $("$PYTHON" -c 'import sys; print(sys.prefix)')"
else
  if [ ! -x .venv/bin/python ]; then
    stage "making a virtual environment in .venv"
    "$PYTHON" -m venv .venv
  else
    stage "using the virtual environment .venv"
  fi
  PYTHON=$PWD/.venv/bin/python
fi
stage "installing test requirements"
"$PYTHON" -m pip install -q --disable-pip-version-check -r tests/requirements.txt

# The build requirements are installed once so that the package builds without
# isolation: an isolated build starts from an empty CMake cache every time.
PIP_BUILD=(--no-build-isolation)
CMAKE_WERROR=()
if [ "${VELKAN_WERROR:-0}" = 1 ]; then
  PIP_BUILD+=(--config-settings=cmake.define.VELKAN_WERROR=ON)
  CMAKE_WERROR=(-DVELKAN_WERROR=ON)
fi
stage "building and installing the package (incremental in build/)"
"$PYTHON" -m pip install -q --disable-pip-version-check "${PIP_BUILD[@]}" .

# ---- C++ tests -----------------------------------------------------------------
BUILD=build/tests
GENERATOR=()
[ -f "$BUILD/CMakeCache.txt" ] || GENERATOR=(-G Ninja)
stage "building the C++ tests in $BUILD"
cmake -S . -B "$BUILD" "${GENERATOR[@]}" -DCMAKE_BUILD_TYPE=Release "${CMAKE_WERROR[@]}" \
  -DVELKAN_BUILD_TESTS=ON -DVELKAN_BUILD_EXTENSION=OFF -DPython_EXECUTABLE="$PYTHON" >/dev/null
cmake --build "$BUILD" --parallel 2
stage "running the C++ tests"
"$BUILD/velkan_tests" --gtest_brief=1

# ---- Python tests ----------------------------------------------------------------
stage "running the Python tests"
"$PYTHON" -m pytest tests/python -q "$@"
stage "done"
