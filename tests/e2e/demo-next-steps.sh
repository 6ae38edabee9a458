#!/usr/bin/env bash
# The demo as a newcomer runs it, on the programs of this build (nothing is
# built or installed): every cycle reads what it reads, the deliberate
# no-value line counted apart from the failed reads, and the commands it
# suggests next run as printed. tests/e2e/demo-next-steps.sh BIN_DIR
set -uo pipefail
bin=$1
root=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*"; cat "$scratch/out"; exit 1; }
cd "$scratch" || exit 1

TARVEL_SKIP_DEPS=1 TARVEL_BIN_DIR=$bin TARVEL_DEMO_TCP_PORT=0 TARVEL_DEMO_MQTT=0 \
  TARVEL_DEMO_CYCLES=1 bash "$root/scripts/demo.sh" --headless "$scratch/demo" \
  >"$scratch/out" 2>&1 </dev/null || fail "the demo ended with $?"
cycles=$(grep -c '^Ciclo ' "$scratch/out")
[[ $cycles == 1 ]] || fail "$cycles cycle lines, not 1"
grep '^Ciclo ' "$scratch/out" | grep -v 'letture fallite 0, senza valore 1,' &&
  fail "a cycle line does not read: letture fallite 0, senza valore 1"

# The suggested commands: the lines indented by two spaces after "Try next:".
mapfile -t commands < <(sed -n '/^Try next:/,$ s/^  \([^ ].*\)/\1/p' "$scratch/out")
((${#commands[@]} == 5)) || fail "${#commands[@]} suggested commands, not 5"
[[ ${commands[4]} == "sensible-editor $scratch/demo/Tarvel.INI" ]] || fail "${commands[4]}"
eval "${commands[0]}" >"$scratch/xml" || fail "${commands[0]}"
grep -q '<Vac>' "$scratch/xml" || fail "no value in the output file"
eval "${commands[1]}" >/dev/null 2>&1  # the simulator, in the background
for _ in $(seq 50); do [[ -e $scratch/demo/ttyDEMO ]] && break; sleep 0.1; done
eval "${commands[2]}" >"$scratch/check" || fail "${commands[2]}: exit $?: $(cat "$scratch/check")"
eval "${commands[3]}" >"$scratch/run" || fail "${commands[3]}: exit $?"
[[ $(grep -c '^TX ' "$scratch/run") -gt 0 ]] || fail "no frame printed by ${commands[3]}"
grep '^Ciclo ' "$scratch/run" | grep -v 'letture fallite 0,' && fail "a read failed"
echo "the demo and the 4 commands it suggests ran"
