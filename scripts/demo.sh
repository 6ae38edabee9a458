#!/usr/bin/env bash
# The demo: installs what is missing, builds, starts the device simulator with
# a demo plant, and runs the logger against it in the demo folder, which stays.
#
#   sudo bash scripts/demo.sh [--headless] [--monitor] [FOLDER]
#
# FOLDER (default: demo/ in the build folder) gets the demo's Tarvel.INI (kept
# when it is already there, so that edits to it stay), the XML files and the
# simulator's log. Without a display (or with --headless) tarvel-headless runs
# a few cycles and the XML files it wrote are printed. With a display
# ($DISPLAY or $WAYLAND_DISPLAY) the desktop program opens on the same folder
# instead; the simulator stops when it is closed. --monitor prints every
# frame of the headless run. At the end the demo says what to try next.
#
# The demo builds in a folder of its own (Release, without the tests), apart
# from the test command's build folders.
#
# Environment: TARVEL_BUILD_DIR (default: build-demo), TARVEL_DEMO_CYCLES
# (default: 3), TARVEL_SKIP_DEPS=1 (do not check the packages),
# TARVEL_BIN_DIR (run the programs of that folder, build nothing),
# TARVEL_DEMO_TCP_PORT (the simulator's Modbus TCP port for a new demo
# folder; default 15020, 0: a free one), TARVEL_DEMO_MQTT=0 (no broker).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TARVEL_BUILD_DIR:-$root/build-demo}"
cycles="${TARVEL_DEMO_CYCLES:-3}"
headless=0
monitor=()
folder=""
usage() { sed -n '2,/^set /p' "${BASH_SOURCE[0]}" | sed '$d' | sed 's/^# \{0,1\}//'; }
for arg in "$@"; do
    case "$arg" in
        --headless) headless=1 ;;
        --monitor) headless=1 monitor=(--monitor) ;;
        -h | --help) usage; exit 0 ;;
        -*) echo "demo: opzione sconosciuta: $arg" >&2; echo >&2; usage >&2; exit 2 ;;
        *)
            [[ -z "$folder" ]] || { echo "demo: one folder only" >&2; exit 2; }
            folder="$arg"
            ;;
    esac
done

# 1. Packages (as root), then the rest as the user who called sudo, so that
#    the build and demo folders do not end up owned by root.
if [[ "${TARVEL_SKIP_DEPS:-0}" != 1 ]]; then
    if [[ $EUID -eq 0 ]]; then
        bash "$root/scripts/install-deps.sh" --demo
    elif bash "$root/scripts/install-deps.sh" --demo --check; then
        :
    elif command -v sudo >/dev/null; then
        sudo bash "$root/scripts/install-deps.sh" --demo
    else
        echo "demo: not root and no sudo; the packages are not checked" >&2
    fi
fi
if [[ $EUID -eq 0 && -n "${SUDO_USER:-}" && "$SUDO_USER" != root ]]; then
    exec sudo -u "$SUDO_USER" \
        --preserve-env=DISPLAY,WAYLAND_DISPLAY,XAUTHORITY,XDG_RUNTIME_DIR,TARVEL_BUILD_DIR,TARVEL_DEMO_CYCLES,TARVEL_BIN_DIR,TARVEL_DEMO_TCP_PORT,TARVEL_DEMO_MQTT \
        TARVEL_SKIP_DEPS=1 bash "${BASH_SOURCE[0]}" "$@"
fi
# Qt wants a private runtime folder; without one it says so at every start.
runtime=""
if [[ -z "${XDG_RUNTIME_DIR:-}" ]]; then
    runtime="$(mktemp -d)"
    export XDG_RUNTIME_DIR="$runtime"
fi

# 2. Build what the demo runs.
gui=0
if [[ $headless == 0 && ( -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ) ]]; then gui=1; fi
bin="${TARVEL_BIN_DIR:-$build/bin}"
if [[ -z "${TARVEL_BIN_DIR:-}" ]]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
    targets=(tarvel-sim tarvel-headless)
    if cmake --build "$build" --target help | grep -qE '^Tarvel(:| )'; then targets+=(Tarvel); fi
    cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"
fi
bin="$(cd "$bin" && pwd)"
if [[ $gui == 1 && ! -x "$bin/Tarvel" ]]; then gui=0; fi

# 3. The demo folder and the simulator; the simulator stops at the end.
folder="${folder:-$build/demo}"
mkdir -p "$folder"
folder="$(cd "$folder" && pwd)"
sim_pid=""
stop_sim() {
    if [[ -n "$sim_pid" ]]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
        sim_pid=""
    fi
}
trap 'stop_sim; if [[ -n "$runtime" ]]; then rm -rf "$runtime"; fi' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Outside 7:00-17:00 the simulated inverters would sleep: show them at noon.
# The meter's line goes through the simulator's Modbus TCP server, as
# through an Ethernet gateway.
# A demo folder made before keeps the port its settings name.
tcp_port="${TARVEL_DEMO_TCP_PORT:-15020}"
if [[ -e "$folder/Tarvel.INI" ]]; then
    tcp_port="$(sed -n 's|^COM2=mbtcp://127\.0\.0\.1:\([0-9]*\).*|\1|p' "$folder/Tarvel.INI" | head -n 1)"
fi
sim_args=(--map "$root/tools/sim/demo-plant.map" --link "$folder/ttyDEMO" --tcp "${tcp_port:-15020}")
hour=$((10#$(date +%H)))
if ((hour < 7 || hour >= 17)); then sim_args+=(--hour 12); fi
rm -f "$folder/sim.out"
"$bin/tarvel-sim" "${sim_args[@]}" >"$folder/sim.out" 2>"$folder/sim.log" &
sim_pid=$!
for _ in $(seq 50); do
    [[ -e "$folder/ttyDEMO" ]] && grep -q '^tcp ' "$folder/sim.out" && break
    sleep 0.1
done
if [[ ! -e "$folder/ttyDEMO" ]]; then
    echo "demo: the simulator did not start:" >&2
    cat "$folder/sim.log" >&2
    exit 1
fi
tcp_port="$(sed -n 's/^tcp 127\.0\.0\.1://p' "$folder/sim.out")"
echo "demo: simulator on $(head -n 1 "$folder/sim.out"), reached as $folder/ttyDEMO," \
    "and as Modbus TCP on 127.0.0.1:$tcp_port"

# 4. The settings: the template with the demo folder put in, unless the
#    folder has its own already.
if [[ -e "$folder/Tarvel.INI" ]]; then
    echo "demo: using the settings already in $folder/Tarvel.INI"
else
    escaped="$(printf '%s' "$folder" | sed 's/[&|\\]/\\&/g')"
    mqtt_host=""
    if [[ "${TARVEL_DEMO_MQTT:-1}" != 0 ]] &&
        { command -v mosquitto >/dev/null || [[ -x /usr/sbin/mosquitto ]]; }; then
        mqtt_host=127.0.0.1
    fi
    sed -e "s|@SCRATCH@|$escaped|g" -e "s|@MQTT_HOST@|$mqtt_host|" -e "s|@TCP_PORT@|$tcp_port|g" \
        "$root/tools/sim/demo-Tarvel.INI" >"$folder/Tarvel.INI"
fi
# The desktop program beside the settings: a portable copy on this folder.
if [[ -x "$bin/Tarvel" ]]; then cp "$bin/Tarvel" "$folder/Tarvel"; fi

# 5. The desktop program when there is a display; otherwise the headless
#    runner: check the settings, run, show the output.
if [[ $gui == 1 ]]; then
    echo "demo: starting the desktop program on $folder; close it to end the demo"
    (cd "$folder" && ./Tarvel) || true
else
    echo "demo: settings check"
    "$bin/tarvel-headless" --check --folder "$folder" | sed 's/^/  /' || true
    # The demo's own broker and a subscriber, when the settings publish to
    # it and Mosquitto is installed.
    broker=""
    if grep -q '^Host=127.0.0.1' "$folder/Tarvel.INI" && command -v mosquitto_sub >/dev/null &&
        ! (exec 3<>/dev/tcp/127.0.0.1/18830) 2>/dev/null; then
        mosquitto_bin="$(command -v mosquitto || echo /usr/sbin/mosquitto)"
        printf 'listener 18830 127.0.0.1\nallow_anonymous true\n' >"$folder/mosquitto.conf"
        if [[ $EUID -eq 0 ]]; then echo "user root" >>"$folder/mosquitto.conf"; fi
        "$mosquitto_bin" -c "$folder/mosquitto.conf" 2>"$folder/mosquitto.log" &
        broker=$!
        for _ in $(seq 50); do (exec 3<>/dev/tcp/127.0.0.1/18830) 2>/dev/null && break; sleep 0.1; done
        mosquitto_sub -h 127.0.0.1 -p 18830 -t 'tarvel/demo/#' -v >"$folder/mqtt.txt" 2>/dev/null &
        subscriber=$!
        sleep 0.3
    fi
    echo "demo: $cycles acquisition cycles"
    "$bin/tarvel-headless" --folder "$folder" --cycles "$cycles" "${monitor[@]}"
    if [[ -n "$broker" ]]; then
        sleep 0.5
        kill "$subscriber" "$broker" 2>/dev/null || true
        wait "$subscriber" "$broker" 2>/dev/null || true
        echo
        echo "== published to the demo broker (mosquitto_sub -t 'tarvel/demo/#' -v), the first lines:"
        grep -v '/status/' "$folder/mqtt.txt" | head -n 6 | cut -c 1-160
    fi
    for file in "$folder"/*.xml; do
        [[ -e "$file" ]] || continue
        echo
        echo "== $file"
        tr -d '\r' <"$file"
    done
fi
stop_sim

# 6. What stays, and what to try next: commands that run as they stand.
demo="bash scripts/demo.sh"
if [[ "$PWD" != "$root" ]]; then demo="bash $root/scripts/demo.sh"; fi
if [[ "$folder" != "$build/demo" ]]; then demo+=" $folder"; fi
echo
echo "demo: the demo folder stays: $folder"
echo "Try next:"
echo "  cat $folder/inverter.xml"
echo "      the values of the last cycle (xdg-open shows the file in the desktop's viewer)"
echo "  $bin/tarvel-sim --map demo-plant --link $folder/ttyDEMO --tcp $tcp_port &"
echo "      the simulated plant again, in the background (kill %1 ends it); then"
echo "  $bin/tarvel-headless --check --folder $folder"
echo "      the settings as the logger reads them, line by line, with their warnings"
echo "  $bin/tarvel-headless --folder $folder --cycles 1 --monitor"
echo "      one cycle with every frame on the line"
echo "  sensible-editor $folder/Tarvel.INI"
echo "      change the request list, then run \"$demo\" again; with a display it opens the"
echo "      desktop program on the folder ($folder/Tarvel)"
