#!/usr/bin/env bash
# The C++ tests built as another target than this machine's usual one:
#   clang    (default) clang with libc++ (not g++ with libstdc++), the
#            extension too, and only the portable code paths
#            (VELKAN_PORTABLE: no x86 vector code, as on aarch64);
#   aarch64  cross-compiled with Debian's aarch64-linux-gnu-g++ and run under
#            qemu-user (the portable paths as an aarch64 machine runs them).
# Warnings are errors. GoogleTest is built from Debian's sources for the
# target first (the packaged library is built for g++, libstdc++ and x86).
# Installs what is missing with apt-get.
# Usage: tools/portable.sh [clang|aarch64]
set -euo pipefail
cd "$(dirname "$0")/.."
TARGET=${1:-clang}
missing=()
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=(googletest)
case $TARGET in
  clang)
    command -v clang++ >/dev/null || missing+=(clang)
    [ -n "$(ls -d /usr/lib/llvm-*/include/c++/v1 /usr/include/c++/v1 2>/dev/null)" ] ||
      missing+=(libc++-dev libc++abi-dev)
    COMPILERS=(-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)
    FLAGS="-stdlib=libc++"
    EXTENSION=(-DVELKAN_BUILD_EXTENSION=ON -DPython_EXECUTABLE="${PYTHON:-python3}")
    RUN=()
    ;;
  aarch64)
    command -v aarch64-linux-gnu-g++ >/dev/null || missing+=(g++-aarch64-linux-gnu)
    command -v qemu-aarch64-static >/dev/null || missing+=(qemu-user-static)
    COMPILERS=(-DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=aarch64
      -DCMAKE_C_COMPILER=aarch64-linux-gnu-gcc -DCMAKE_CXX_COMPILER=aarch64-linux-gnu-g++
      -DCMAKE_FIND_ROOT_PATH_MODE_PROGRAM=NEVER)
    FLAGS=""
    # No Python headers for the target here: the C++ tests only.
    EXTENSION=(-DVELKAN_BUILD_EXTENSION=OFF)
    RUN=(qemu-aarch64-static -L /usr/aarch64-linux-gnu)
    ;;
  *)
    echo "tools/portable.sh: the target is clang or aarch64, not $TARGET" >&2
    exit 2
    ;;
esac
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi
GENERATOR=()
command -v ninja >/dev/null && GENERATOR=(-G Ninja)
OUT=build/portable-$TARGET
GTEST=$OUT/googletest
if [ ! -f "$GTEST/install/include/gtest/gtest.h" ]; then
  echo "== GoogleTest for $TARGET"
  cmake -S /usr/src/googletest -B "$GTEST/build" "${GENERATOR[@]}" -DCMAKE_BUILD_TYPE=Release \
    "${COMPILERS[@]}" -DCMAKE_CXX_FLAGS="$FLAGS" -DBUILD_GMOCK=OFF \
    -DCMAKE_INSTALL_PREFIX="$PWD/$GTEST/install" >/dev/null
  cmake --build "$GTEST/build" --parallel 2 >/dev/null
  cmake --install "$GTEST/build" >/dev/null
fi
echo "== C++ tests for $TARGET, portable paths only"
cmake -S . -B "$OUT/tests" "${GENERATOR[@]}" -DCMAKE_BUILD_TYPE=Release "${COMPILERS[@]}" \
  -DCMAKE_CXX_FLAGS="$FLAGS" -DCMAKE_EXE_LINKER_FLAGS="$FLAGS" \
  -DCMAKE_PREFIX_PATH="$PWD/$GTEST/install" -DCMAKE_FIND_ROOT_PATH="$PWD/$GTEST/install" \
  -DVELKAN_PORTABLE=ON -DVELKAN_WERROR=ON -DVELKAN_BUILD_TESTS=ON "${EXTENSION[@]}" >/dev/null
cmake --build "$OUT/tests" --parallel 2
"${RUN[@]}" "$OUT/tests/velkan_tests" --gtest_brief=1
