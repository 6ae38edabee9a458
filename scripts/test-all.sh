#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build
# (as root, the port tests once more as an unprivileged user),
# the Debian package and its check, the soak run (TARVEL_SOAK_CYCLES cycles,
# 300 unless set), the same tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, and a short run of each fuzzer. Ends, also
# when a step fails, with what it counted, where it failed and what it
# skipped and why, then one line that counts them all:
#   tests: N passed, N failed[, N skipped]
# and exits 1 when anything failed.
#
# scripts/test-all.sh [step ...] runs only the named steps, out of: build
# (build and test), package, soak, asan, fuzz. The package and soak steps use
# the folder build too (configured and built by them when needed); asan
# builds in build-asan, the fuzzers in build-fuzz.
set -uo pipefail
cd "$(dirname "$0")/.."

all_steps=(build package soak asan fuzz)
steps=("$@")
((${#steps[@]})) || steps=("${all_steps[@]}")
for step in "${steps[@]}"; do
  case $step in
    build | package | soak | asan | fuzz) ;;
    -h | --help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "test-all.sh: unknown step \"$step\" (${all_steps[*]})" >&2; exit 2 ;;
  esac
done

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
# Qt wants a private runtime folder; without one it says so at every start.
if [[ -z "${XDG_RUNTIME_DIR:-}" ]]; then
  mkdir -m 700 "$logs/run"
  export XDG_RUNTIME_DIR=$logs/run
fi

# The counts: each step runs in a shell of its own and adds to these files
# (a number per line), so that a step that fails still leaves them.
add() { echo "$2" >>"$logs/$1"; }                 # passed|failed|skipped NUMBER
counted() { printf '%s\t%s\n' "$1" "$2" >>"$logs/counted"; }  # what, NUMBER
note() { echo "$*" >>"$logs/notes"; }
touch "$logs/passed" "$logs/failed" "$logs/skipped" "$logs/counted"
sum() { awk '{ n += $1 } END { print n + 0 }' "$logs/$1"; }

# The output of a test that ctest skipped: the reason a skipped GoogleTest
# gives, or else the first line the test printed.
skip_reason() {
  awk -v name="$2" '
    BEGIN { tail = " Test: " name }
    substr($0, length($0) - length(tail) + 1) == tail { found = 1; next }
    found && /^<end of output>/ { exit }
    found && /^-+$/ { inside = 1; next }
    found && inside && after && NF { reason = $0; exit }
    found && inside && /: Skipped$/ { after = 1; next }
    found && inside && first == "" && NF { first = $0 }
    END { print (reason != "" ? reason : first) }' "$1"
}

# Runs ctest with the given arguments in build folder $2 and counts what
# passed, failed and was skipped, under the name $1.
run_ctest() {
  local what=$1 dir=$2 log=$logs/ctest.$RANDOM
  shift 2
  local status=0
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" "$@" 2>&1 | tee "$log" ||
    status=${PIPESTATUS[0]}
  local summary failed=0 total=0 skipped=0 name
  summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" |
    tail -n 1 || true)
  if [[ -n $summary ]]; then
    failed=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$summary")
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
  fi
  while read -r name; do
    skipped=$((skipped + 1))
    note "skipped: $name ($(skip_reason "$dir/Testing/Temporary/LastTest.log" "$name"))"
  done < <(sed -nE 's/^[[:space:]]+[0-9]+ - (.*) \(Skipped\)$/\1/p' "$log")
  add passed $((total - failed - skipped))
  add failed "$failed"
  add skipped "$skipped"
  counted "$what" $((total - failed - skipped))
  return "$status"
}

configure_build() {
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
    -DTARVEL_GUI=ON -DTARVEL_BENCH=ON -DTARVEL_SOAK=ON
  cmake --build build -j "$jobs"
}

# The first folder on the way to $1 that user nobody may not enter.
closed_to_nobody() {
  local path=$1 dir=""
  IFS=/ read -ra parts <<<"${path#/}"
  for part in "${parts[@]}"; do
    dir+=/$part
    if ! runuser -u nobody -- test -x "$dir"; then
      echo "$dir (mode $(stat -c %a "$dir"), owner $(stat -c %U "$dir"))"
      return
    fi
  done
  echo "$path"
}

# Root may open any device, so as root the port tests run once more as a
# user without that right: the exclusive mode and the message that names
# the device's group are only seen there.
ports_unprivileged() {
  local tests=$PWD/build/bin/tarvel_integration_tests
  if ((EUID != 0)); then return 0; fi
  local count
  count=$("$tests" --gtest_list_tests --gtest_filter='SerialPortPty.*' | grep -c '^  ' || true)
  if ! command -v runuser >/dev/null; then
    note "skipped: $count port tests as user nobody (runuser is not installed)"
    add skipped "$count"
    return 0
  fi
  if ! runuser -u nobody -- test -x "$tests"; then
    note "skipped: $count port tests as user nobody (nobody may not enter" \
      "$(closed_to_nobody "$tests"); a clone in a folder anyone may enter runs them)"
    add skipped "$count"
    return 0
  fi
  local status=0
  runuser -u nobody -- "$tests" --gtest_filter='SerialPortPty.*' >"$logs/ports" 2>&1 || status=$?
  local passed failed
  passed=$(grep -c '^\[       OK \]' "$logs/ports" || true)
  failed=$(grep -cE '^\[  FAILED  \] .* \([0-9]+ ms\)$' "$logs/ports" || true)
  add passed "$passed"
  add failed "$failed"
  counted "as nobody" "$passed"
  if ((status != 0)); then
    cat "$logs/ports" >&2
    echo "ports: the port tests failed as nobody" >&2
    return 1
  fi
  echo "ports: $passed port tests passed as nobody"
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

step_deps() { bash scripts/install-deps.sh --test; }

step_build() {
  echo "== Build and test =="
  configure_build
  run_ctest ctest build -LE soak
  ports_unprivileged
}

step_package() {
  echo "== Debian package =="
  [[ -f build/CMakeCache.txt ]] || configure_build
  cmake --build build -j "$jobs" --target package
  check_package
  add passed 1
  counted package 1
}

step_soak() {
  echo "== Soak: ${TARVEL_SOAK_CYCLES:-300} cycles =="
  cmake -S . -B build -G Ninja -DTARVEL_SOAK=ON
  cmake --build build -j "$jobs"
  TARVEL_SOAK_CYCLES=${TARVEL_SOAK_CYCLES:-300} run_ctest soak build -L soak --no-tests=error
}

step_asan() {
  echo "== Build and test with AddressSanitizer and UndefinedBehaviorSanitizer =="
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTARVEL_SANITIZE=ON \
    -DTARVEL_GUI=ON -DTARVEL_BENCH=OFF
  cmake --build build-asan -j "$jobs"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_ctest "under sanitizers" build-asan
}

step_fuzz() {
  echo "== Fuzzers (short run) =="
  local status=0 ran failed
  bash scripts/fuzz.sh 15 | tee "$logs/fuzz" || status=$?
  ran=$(grep -c '^== fuzz_' "$logs/fuzz" || true)
  failed=$(grep -c ' FAILED: ' "$logs/fuzz" || true)
  add passed $((ran - failed))
  add failed "$failed"
  counted fuzzers $((ran - failed))
  return "$status"
}

# Each step in a shell of its own that stops at its first failure; the
# steps after it still run. A step that failed without counting a failed
# test counts as one failure.
run_step() {
  local before after
  before=$(sum failed)
  (
    set -e
    "step_$1"
  )
  local status=$?
  if ((status != 0)); then
    after=$(sum failed)
    ((after > before)) || add failed 1
    echo "$1 ($(($(sum failed) - before)) failed)" >>"$logs/failed-in"
  fi
}

run_step deps
for step in "${steps[@]}"; do run_step "$step"; done

echo
# What each kind counted, in the order of the steps.
echo "counted: $(awk -F '\t' '!($1 in n) { order[++k] = $1 } { n[$1] += $2 }
  END { for (i = 1; i <= k; ++i) printf "%s%s %d", (i > 1 ? ", " : ""), order[i], n[order[i]]
        if (k == 0) printf "nothing" }' "$logs/counted")"
if [[ -f $logs/failed-in ]]; then echo "failed in: $(paste -sd, "$logs/failed-in" | sed 's/,/, /g')"; fi
if [[ -f $logs/notes ]]; then cat "$logs/notes"; fi
passed=$(sum passed) failed=$(sum failed) skipped=$(sum skipped)
echo "tests: $passed passed, $failed failed$( ((skipped == 0)) || echo ", $skipped skipped")"
((failed == 0))
