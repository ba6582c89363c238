#!/usr/bin/env bash
# Builds the fuzz targets with Debian's clang (libFuzzer + ASan + UBSan) and
# runs each for a bounded time, two at a time, starting from its committed
# seed corpus (which includes every input that once found a bug). New inputs
# and crash artifacts go to build/fuzz/. Exits non-zero on any finding.
# Usage: fuzz/run.sh [seconds per target, default 60] [target ...]
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-60}
shift || true
TARGETS=("$@")
[ ${#TARGETS[@]} -eq 0 ] && TARGETS=(split encode image driver budget added_tokens)

CLANG_VERSION=14  # Debian bookworm's clang
CXX=clang++-$CLANG_VERSION
if ! command -v "$CXX" >/dev/null || ! ls /usr/lib/llvm-$CLANG_VERSION/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq "clang-$CLANG_VERSION" "libclang-rt-$CLANG_VERSION-dev" >/dev/null
fi

BUILD=build/fuzz
GENERATOR=""
command -v ninja >/dev/null && [ ! -f "$BUILD/CMakeCache.txt" ] && GENERATOR="-G Ninja"
cmake -S . -B "$BUILD" $GENERATOR -DCMAKE_CXX_COMPILER="$CXX" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELKAN_SANITIZE=address,undefined,fuzzer-no-link -DVELKAN_BUILD_FUZZERS=ON \
  -DVELKAN_BUILD_EXTENSION=OFF -DPython_EXECUTABLE="$(command -v python3)" >/dev/null
cmake --build "$BUILD" --parallel

# Longest input per target: whole images for the loader, short texts for the
# quadratic checks of the others.
declare -A MAX_LEN=([split]=2048 [encode]=1024 [image]=200000 [driver]=4096 [budget]=2048
  [added_tokens]=1024)

run_one() {
  local t=$1
  mkdir -p "$BUILD/corpus/$t" "$BUILD/artifacts"
  "$BUILD/fuzz/${t}_fuzzer" "$BUILD/corpus/$t" "fuzz/corpus/$t" -max_total_time="$SECONDS_EACH" \
    -max_len="${MAX_LEN[$t]}" -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 \
    -artifact_prefix="$BUILD/artifacts/$t-" >"$BUILD/$t.log" 2>&1
}

failed=0
pids=()
names=()
for t in "${TARGETS[@]}"; do
  run_one "$t" &
  pids+=($!)
  names+=("$t")
  # Two at a time: the machine has two cores.
  if [ ${#pids[@]} -eq 2 ]; then
    for i in 0 1; do
      if wait "${pids[$i]}"; then status=ok; else status=FAILED; failed=1; fi
      echo "fuzz ${names[$i]}: $status, $(grep -m1 -o 'stat::number_of_executed_units: [0-9]*' "$BUILD/${names[$i]}.log" || echo 'no stats')"
      [ $status = ok ] || tail -40 "$BUILD/${names[$i]}.log"
    done
    pids=(); names=()
  fi
done
for i in "${!pids[@]}"; do
  if wait "${pids[$i]}"; then status=ok; else status=FAILED; failed=1; fi
  echo "fuzz ${names[$i]}: $status, $(grep -m1 -o 'stat::number_of_executed_units: [0-9]*' "$BUILD/${names[$i]}.log" || echo 'no stats')"
  [ $status = ok ] || tail -40 "$BUILD/${names[$i]}.log"
done
exit $failed
