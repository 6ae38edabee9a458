#!/usr/bin/env bash
# Runs the window tests that need a real X server under a virtual one, once
# under each window manager given: tests/gui/window-managers.sh TESTS FILTER WM...
# Exits 77 (skipped) when Xvfb or a window manager is not installed.
set -uo pipefail
tests=$1 filter=$2
shift 2
for program in Xvfb "$@"; do
  command -v "$program" >/dev/null || { echo "$program is not installed"; exit 77; }
done

scratch=$(mktemp -d)
# Every server and window manager still running is ended with the script.
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$scratch"' EXIT

status=0
for wm in "$@"; do
  # A display number of the server's own choosing: no clash with another run.
  : >"$scratch/display"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$scratch/display" 2>/dev/null &
  for _ in $(seq 50); do [[ -s $scratch/display ]] && break; sleep 0.1; done
  display=:$(cat "$scratch/display")
  HOME=$scratch DISPLAY=$display "$wm" >/dev/null 2>&1 &
  sleep 1
  echo "== $wm on $display =="
  DISPLAY=$display QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=$scratch "$tests" --gtest_filter="$filter" ||
    status=1
  kill $(jobs -p) 2>/dev/null
  wait 2>/dev/null
done
exit $status
