#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build
# (as root, the port tests once more as an unprivileged user),
# the Debian package and its check, the soak run (TARVEL_SOAK_CYCLES cycles,
# 300 unless set), the same tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, and a short run of each fuzzer. Ends with one
# line that counts them all.
#
# scripts/test-all.sh [step ...] runs only the named steps, out of: build
# (build and test), package, soak, asan, fuzz. The package and soak steps use
# the folder build too (configured and built by them when needed); asan
# builds in build-asan, the fuzzers in build-fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."

all_steps=(build package soak asan fuzz)
steps=("$@")
((${#steps[@]})) || steps=("${all_steps[@]}")
for step in "${steps[@]}"; do
  case $step in
    build | package | soak | asan | fuzz) ;;
    -h | --help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "test-all.sh: unknown step \"$step\" (${all_steps[*]})" >&2; exit 2 ;;
  esac
done

bash scripts/install-deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
# Qt wants a private runtime folder; without one it says so at every start.
if [[ -z "${XDG_RUNTIME_DIR:-}" ]]; then
  mkdir -m 700 "$logs/run"
  export XDG_RUNTIME_DIR=$logs/run
fi
counted_ctest=0 counted_asan=0 counted_fuzz=0

# Runs ctest with the given arguments; the number of tests that passed goes
# into ran.
ran=0
run_ctest() {
  local log=$1
  shift
  ctest --output-on-failure -j "$jobs" "$@" 2>&1 | tee "$log"
  local status=${PIPESTATUS[0]}
  ran=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
  ran=${ran:-0}
  return "$status"
}

configure_build() {
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
    -DTARVEL_GUI=ON -DTARVEL_BENCH=ON -DTARVEL_SOAK=ON
  cmake --build build -j "$jobs"
}

# Root may open any device, so as root the port tests run once more as a
# user without that right: the exclusive mode and the message that names
# the device's group are only seen there.
ports_unprivileged() {
  local tests=$PWD/build/bin/tarvel_integration_tests
  if ((EUID != 0)); then return 0; fi
  if ! command -v runuser >/dev/null || ! runuser -u nobody -- test -x "$tests"; then
    echo "ports: nobody cannot run $tests here; the unprivileged port tests are left out"
    return 0
  fi
  runuser -u nobody -- "$tests" --gtest_filter='SerialPortPty.*' >"$logs/ports" 2>&1 ||
    { cat "$logs/ports" >&2; echo "ports: the port tests failed as nobody" >&2; return 1; }
  echo "ports: $(grep -c '^\[       OK \]' "$logs/ports") port tests passed as nobody"
}

# The package's files, then the programs as unpacked into a scratch root:
# each gives its version, and the runner's first start makes the user's
# folder from the packaged example.
check_package() {
  local version arch deb root home
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)
  arch=$(dpkg --print-architecture)
  deb=build/tarvel_${version}_${arch}.deb
  [[ -f $deb ]] || { echo "package: $deb was not made" >&2; return 1; }
  dpkg-deb --info "$deb" | sed -n 's/^ \(Package\|Version\|Architecture\|Depends\):/  \1:/p'
  dpkg-deb --contents "$deb" | awk '{print $NF}' >"$logs/contents"
  local path missing=0
  for path in usr/bin/Tarvel usr/bin/tarvel-headless usr/bin/tarvel-sim \
    usr/share/applications/tarvel.desktop usr/share/icons/hicolor/scalable/apps/tarvel.svg \
    usr/share/tarvel/Tarvel.INI usr/share/tarvel/demo-plant.map \
    usr/lib/systemd/user/tarvel-headless.service usr/lib/systemd/user/tarvel-headless@.service; do
    grep -qx "\./$path" "$logs/contents" || { echo "package: $path is missing" >&2; missing=1; }
  done
  dpkg-deb --field "$deb" Depends | grep -q 'libqt6core6' ||
    { echo "package: no dependency on Qt" >&2; missing=1; }
  ((missing == 0)) || return 1
  root=$logs/root home=$logs/home
  mkdir -p "$root" "$home"
  dpkg -x "$deb" "$root"
  local program
  for program in Tarvel tarvel-headless tarvel-sim; do
    [[ $("$root/usr/bin/$program" --version) == "$program $version" ]] ||
      { echo "package: $program --version is wrong" >&2; return 1; }
  done
  local status=0
  env -u XDG_CONFIG_HOME HOME="$home" "$root/usr/bin/tarvel-headless" 2>"$logs/first" || status=$?
  if [[ $status != 2 ]] || ! cmp -s "$home/.config/tarvel/Tarvel.INI" \
    "$root/usr/share/tarvel/Tarvel.INI"; then
    echo "package: the first start did not make ~/.config/tarvel (exit $status)" >&2
    cat "$logs/first" >&2
    return 1
  fi
  echo "package: $deb holds the programs, the data and the units; they start"
}

for step in "${steps[@]}"; do
  case $step in
    build)
      echo "== Build and test =="
      configure_build
      run_ctest "$logs/plain" --test-dir build -LE soak
      counted_ctest=$((counted_ctest + ran))
      ports_unprivileged
      ;;
    package)
      echo "== Debian package =="
      [[ -f build/CMakeCache.txt ]] || configure_build
      cmake --build build -j "$jobs" --target package
      check_package
      ;;
    soak)
      echo "== Soak: ${TARVEL_SOAK_CYCLES:-300} cycles =="
      cmake -S . -B build -G Ninja -DTARVEL_SOAK=ON
      cmake --build build -j "$jobs"
      TARVEL_SOAK_CYCLES=${TARVEL_SOAK_CYCLES:-300} run_ctest "$logs/soak" --test-dir build \
        -L soak --no-tests=error
      counted_ctest=$((counted_ctest + ran))
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
      counted_asan=$((counted_asan + ran))
      ;;
    fuzz)
      echo "== Fuzzers (short run) =="
      bash scripts/fuzz.sh 15 | tee "$logs/fuzz"
      counted_fuzz=$(grep -c '^== fuzz_' "$logs/fuzz" || true)
      ;;
  esac
done

passed=$((counted_ctest + counted_asan + counted_fuzz))
echo "tests: $passed passed, 0 failed (ctest $counted_ctest, under sanitizers $counted_asan," \
  "fuzzers $counted_fuzz)"
