#!/usr/bin/env bash
# The demo: installs what is missing, builds, starts the device simulator with
# a demo plant, and runs the logger against it in a scratch folder.
#
#   sudo bash scripts/demo.sh [--headless]
#
# Without a display (or with --headless) tarvel-headless runs a few cycles and
# the XML files it wrote are printed. With a display ($DISPLAY or
# $WAYLAND_DISPLAY) and the desktop program built, the desktop program opens
# on the same folder instead; the simulator stops when it is closed.
#
# Environment: TARVEL_BUILD_DIR (default: build), TARVEL_DEMO_CYCLES
# (default: 3), TARVEL_SKIP_DEPS=1 (do not check the packages),
# TARVEL_DEMO_KEEP=1 (keep the scratch folder).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TARVEL_BUILD_DIR:-$root/build}"
cycles="${TARVEL_DEMO_CYCLES:-3}"
headless=0
for arg in "$@"; do
    case "$arg" in
        --headless) headless=1 ;;
        -h | --help) sed -n '2,15p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "demo: unknown option $arg" >&2; exit 1 ;;
    esac
done

# 1. Packages (as root), then the rest as the user who called sudo, so that
#    the build folder does not end up owned by root.
if [[ "${TARVEL_SKIP_DEPS:-0}" != 1 ]]; then
    if [[ $EUID -eq 0 ]]; then
        bash "$root/scripts/install-deps.sh"
    elif command -v sudo >/dev/null; then
        sudo bash "$root/scripts/install-deps.sh"
    else
        echo "demo: not root and no sudo; the packages are not checked" >&2
    fi
fi
if [[ $EUID -eq 0 && -n "${SUDO_USER:-}" && "$SUDO_USER" != root ]]; then
    exec sudo -u "$SUDO_USER" \
        --preserve-env=DISPLAY,WAYLAND_DISPLAY,XAUTHORITY,XDG_RUNTIME_DIR,TARVEL_BUILD_DIR,TARVEL_DEMO_CYCLES,TARVEL_DEMO_KEEP \
        TARVEL_SKIP_DEPS=1 bash "${BASH_SOURCE[0]}" "$@"
fi

# 2. Build what the demo runs.
gui=0
if [[ $headless == 0 && ( -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ) ]]; then gui=1; fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
targets=(tarvel-sim tarvel-headless)
if [[ $gui == 1 ]] && cmake --build "$build" --target help | grep -qE '^Tarvel(:| )'; then
    targets+=(Tarvel)
fi
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"
bin="$build/bin"
if [[ $gui == 1 && ! -x "$bin/Tarvel" ]]; then gui=0; fi

# 3. The scratch folder and the simulator; both go away at the end.
scratch="$(mktemp -d)"
sim_pid=""
cleanup() {
    if [[ -n "$sim_pid" ]]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    if [[ "${TARVEL_DEMO_KEEP:-0}" == 1 ]]; then
        echo "demo: the scratch folder stays: $scratch"
    else
        rm -rf "$scratch"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Outside 7:00-17:00 the simulated inverters would sleep: show them at noon.
sim_args=(--map "$root/tools/sim/demo-plant.map" --link "$scratch/ttyDEMO")
hour=$((10#$(date +%H)))
if ((hour < 7 || hour >= 17)); then sim_args+=(--hour 12); fi
"$bin/tarvel-sim" "${sim_args[@]}" >"$scratch/sim.out" 2>"$scratch/sim.log" &
sim_pid=$!
for _ in $(seq 50); do
    [[ -s "$scratch/sim.out" && -e "$scratch/ttyDEMO" ]] && break
    sleep 0.1
done
if [[ ! -e "$scratch/ttyDEMO" ]]; then
    echo "demo: the simulator did not start:" >&2
    cat "$scratch/sim.log" >&2
    exit 1
fi
echo "demo: simulator on $(head -n 1 "$scratch/sim.out"), reached as $scratch/ttyDEMO"

# 4. The settings: the template with the scratch folder put in.
escaped="$(printf '%s' "$scratch" | sed 's/[&|\\]/\\&/g')"
sed "s|@SCRATCH@|$escaped|g" "$root/tools/sim/demo-Tarvel.INI" >"$scratch/Tarvel.INI"

# 5. The desktop program when there is a display: its program folder is the
#    folder of its executable, so it runs from a copy in the scratch folder.
if [[ $gui == 1 ]]; then
    cp "$bin/Tarvel" "$scratch/Tarvel"
    echo "demo: starting the desktop program on $scratch; close it to end the demo"
    (cd "$scratch" && ./Tarvel) || true
    exit 0
fi

# 6. Otherwise the headless runner: check the settings, run, show the output.
echo "demo: settings check"
"$bin/tarvel-headless" --check --folder "$scratch" | sed 's/^/  /'
echo "demo: $cycles acquisition cycles"
(cd "$scratch" && "$bin/tarvel-headless" --folder "$scratch" --cycles "$cycles")
for file in "$scratch"/*.xml; do
    [[ -e "$file" ]] || continue
    echo
    echo "== $file"
    tr -d '\r' <"$file"
done
