#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build,
# the soak run (TARVEL_SOAK_CYCLES cycles, 300 unless set), the same tests
# under AddressSanitizer and UndefinedBehaviorSanitizer, and a short run of
# each fuzzer. Ends with one line that counts them all.
#
# scripts/test-all.sh [step ...] runs only the named steps, out of: build
# (build and test), soak, asan, fuzz. The soak step builds in the folder build
# too, with the soak test registered.
set -euo pipefail
cd "$(dirname "$0")/.."

steps=("$@")
((${#steps[@]})) || steps=(build soak asan fuzz)
for step in "${steps[@]}"; do
  case $step in
    build | soak | asan | fuzz) ;;
    *) echo "test-all.sh: unknown step \"$step\" (build, soak, asan, fuzz)" >&2; exit 2 ;;
  esac
done

bash scripts/install-deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
passed=0

# Runs ctest with the given arguments and counts the tests that passed.
run_ctest() {
  local log=$1
  shift
  ctest --output-on-failure -j "$jobs" "$@" 2>&1 | tee "$log"
  local status=${PIPESTATUS[0]}
  local n
  n=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log")
  passed=$((passed + ${n:-0}))
  return "$status"
}

for step in "${steps[@]}"; do
  case $step in
    build)
      echo "== Build and test =="
      cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVEL_GUI=ON \
        -DTARVEL_BENCH=ON -DTARVEL_SOAK=ON
      cmake --build build -j "$jobs"
      run_ctest "$logs/plain" --test-dir build -LE soak
      ;;
    soak)
      echo "== Soak: ${TARVEL_SOAK_CYCLES:-300} cycles =="
      cmake -S . -B build -G Ninja -DTARVEL_SOAK=ON
      cmake --build build -j "$jobs"
      TARVEL_SOAK_CYCLES=${TARVEL_SOAK_CYCLES:-300} run_ctest "$logs/soak" --test-dir build -L soak \
        --no-tests=error
      ;;
    asan)
      echo "== Build and test with AddressSanitizer and UndefinedBehaviorSanitizer =="
      cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARVEL_SANITIZE=ON \
        -DTARVEL_GUI=ON -DTARVEL_BENCH=OFF
      cmake --build build-asan -j "$jobs"
      ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
      LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp \
      UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        run_ctest "$logs/asan" --test-dir build-asan
      ;;
    fuzz)
      echo "== Fuzzers (short run) =="
      bash scripts/fuzz.sh 15
      passed=$((passed + 6))
      ;;
  esac
done

echo "tests: $passed passed, 0 failed"
