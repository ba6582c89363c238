#!/usr/bin/env bash
# The C++ tests built as a target other than this one's compiler and library
# would build them: clang with libc++ (not g++ with libstdc++), and only the
# portable code paths (VELKAN_PORTABLE: no x86 vector code, as on aarch64),
# warnings as errors. GoogleTest is built from Debian's sources against
# libc++ first (the packaged library is built against libstdc++).
# Installs clang, libc++ and GoogleTest's sources with apt-get when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
missing=()
command -v clang++ >/dev/null || missing+=(clang)
[ -d /usr/include/c++/v1 ] || [ -n "$(ls -d /usr/lib/llvm-*/include/c++/v1 2>/dev/null)" ] ||
  missing+=(libc++-dev libc++abi-dev)
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
GENERATOR=()
command -v ninja >/dev/null && GENERATOR=(-G Ninja)
FLAGS="-stdlib=libc++"
OUT=build/portable
GTEST=$OUT/googletest
if [ ! -f "$GTEST/install/include/gtest/gtest.h" ]; then
  echo "== GoogleTest against libc++"
  cmake -S /usr/src/googletest -B "$GTEST/build" "${GENERATOR[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS="$FLAGS" \
    -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$PWD/$GTEST/install" >/dev/null
  cmake --build "$GTEST/build" --parallel 2 >/dev/null
  cmake --install "$GTEST/build" >/dev/null
fi
echo "== C++ tests: clang, libc++, portable paths"
cmake -S . -B "$OUT/tests" "${GENERATOR[@]}" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS="$FLAGS" \
  -DCMAKE_EXE_LINKER_FLAGS="$FLAGS" -DCMAKE_PREFIX_PATH="$PWD/$GTEST/install" \
  -DVELKAN_PORTABLE=ON -DVELKAN_WERROR=ON -DVELKAN_BUILD_TESTS=ON -DVELKAN_BUILD_EXTENSION=ON \
  -DPython_EXECUTABLE="${PYTHON:-python3}" \
  >/dev/null
cmake --build "$OUT/tests" --parallel 2
"$OUT/tests/velkan_tests" --gtest_brief=1
