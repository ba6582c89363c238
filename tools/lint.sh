#!/usr/bin/env bash
# Formatting and lint checks: clang-format (the repo's .clang-format) over the
# C++ sources, no C++ library feature that g++ 10 lacks, the native layer order (tools/check_layers.py: no include of a
# higher folder), ruff format and ruff check over the Python (settings in
# pyproject.toml), and mypy --strict over the package. Installs clang-format
# (apt) and ruff/mypy (pip) when missing. Exits non-zero on any finding.
# Fix C++ formatting with: clang-format -i FILE; Python with: ruff format PATH.
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=${PYTHON:-python3}
[ -x .venv/bin/python ] && ! "$PYTHON" -c 'import sys; sys.exit(sys.prefix == sys.base_prefix)' \
  && PYTHON=$PWD/.venv/bin/python

if ! command -v clang-format >/dev/null; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq clang-format >/dev/null
fi
"$PYTHON" -m ruff --version >/dev/null 2>&1 && "$PYTHON" -m mypy --version >/dev/null 2>&1 \
  || "$PYTHON" -m pip install -q --disable-pip-version-check ruff mypy

status=0
echo "== clang-format"
# Generated tables are left as their generator writes them.
mapfile -t cxx < <(git ls-files 'src/*.h' 'src/*.cc' 'tests/*.h' 'tests/*.cc' 'fuzz/*.h' 'fuzz/*.cc' \
  | grep -v -e '/third_party/' -e '^src/presplit/category_tables\.cc$')
clang-format --dry-run --Werror "${cxx[@]}" || status=1

echo "== library features g++ 10 (bullseye) lacks"
# libstdc++ 10 has no <barrier>, <latch>, <semaphore>, std::jthread or
# <format>: the oldest compiler we build with would fail where newer ones pass.
if git grep -n -E '#include <(barrier|latch|semaphore|format|stop_token)>|^[^/]*std::jthread' \
  -- "${cxx[@]}" benchmarks/native; then
  echo "use std::thread with an atomic flag or a condition variable instead"
  status=1
fi

echo "== native layers (tools/check_layers.py: no include of a higher folder)"
"$PYTHON" tools/check_layers.py || status=1

echo "== ruff format --check"
"$PYTHON" -m ruff format --check src/velkan tests benchmarks tools || status=1
echo "== ruff check"
"$PYTHON" -m ruff check src/velkan tests benchmarks tools || status=1
echo "== mypy --strict src/velkan"
"$PYTHON" -m mypy --strict src/velkan || status=1
exit $status
