#!/bin/sh
# Builds the libFuzzer harnesses with clang into build-fuzz and runs each one
# for a bounded time: scripts/fuzz.sh [seconds per harness, default 15].
# New inputs are kept in build-fuzz/corpus/<harness>, crashes in
# build-fuzz/artifacts.
set -eu

seconds=${1:-15}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"

CC=clang CXX=clang++ cmake -S "$root/fuzz" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2

mkdir -p "$build/artifacts"
status=0
for harness in fuzz_ini fuzz_request_line fuzz_number fuzz_answer fuzz_line_settings \
    fuzz_xml fuzz_time fuzz_mqtt fuzz_json fuzz_port_url fuzz_tcp_answer fuzz_settings_load fuzz_sunspec \
    fuzz_device_id fuzz_web_request; do
    corpus="$build/corpus/$harness"
    mkdir -p "$corpus"
    echo "== $harness: $seconds s"
    if ! "$build/bin/$harness" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$harness-" \
        "$corpus" "$root/fuzz/corpus/$harness" 2>"$build/$harness.log"; then
        echo "$harness FAILED: see $build/$harness.log and $build/artifacts" >&2
        tail -n 30 "$build/$harness.log" >&2
        status=1
    else
        grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added)' \
            "$build/$harness.log" || true
    fi
done
exit $status
