#!/usr/bin/env bash
# Screenshots of the desktop program for a reviewer: the splash, the main
# window during an acquisition, the serial monitor, the trend window and the
# About box, taken
# under a virtual X server against the device simulator.
#
#   scripts/screenshots.sh [BUILD_DIR]      (default: build)
#
# Needs Xvfb and ImageMagick's import; writes BUILD_DIR/screenshots/*.png.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
bin="$build/bin"
out="$build/screenshots"
for tool in Xvfb:xvfb import:imagemagick convert:imagemagick sqlite3:sqlite3; do
    command -v "${tool%%:*}" >/dev/null ||
        { echo "screenshots: ${tool%%:*} is missing (apt-get install ${tool#*:})" >&2; exit 1; }
done
for program in Tarvel tarvel-sim tarvel_screenshot_driver; do
    [[ -x "$bin/$program" ]] || { echo "screenshots: $bin/$program is not built" >&2; exit 1; }
done
mkdir -p "$out"

scratch="$(mktemp -d)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT

# The simulator's pty, reached through a link in the scratch folder.
"$bin/tarvel-sim" --map "$root/tools/sim/demo-plant.map" --link "$scratch/linea" \
    >"$scratch/sim.out" 2>"$scratch/sim.err" &
pids+=($!)
for _ in $(seq 50); do [[ -s "$scratch/sim.out" ]] && break; sleep 0.1; done
[[ -s "$scratch/sim.out" ]] || { echo "screenshots: the simulator did not start" >&2; exit 1; }

# The program folder: the executable and its settings side by side.
mkdir -p "$scratch/programma" "$scratch/run"
chmod 700 "$scratch/run"
cp "$bin/Tarvel" "$bin/tarvel_screenshot_driver" "$scratch/programma/"
cat >"$scratch/programma/Tarvel.INI" <<INI
[General]
Title=Impianto dimostrativo

[Parameters]
Firt=1
Last=13
Interval=1000
001=1,4,12,1;Tensione_AC_1
002=1,4,14,0;Potenza_1
003=1,3,&100+,0;Energia_1
004=1,1,0,0;Stato_1
005=NEXT
006=2,4,12,1;Tensione_AC_2
007=2,4,14,0;Potenza_2
008=2,3,&100+,0;Energia_2
009=2,1,0,0;Stato_2
010=NEXT
011=3,4,0,1;Tensione_rete
012=3,4,2,1;Frequenza
013=3,3,&200+,0;Energia_consumata

[Serial_0]
COM=1
Settings=9600,N,8,1
Handshaking=0
TimeOut=500
Retry=2

[Ports]
COM1=$scratch/linea

[Export]
Out=$scratch/tarvel.xml
Kill=0

[Start]
Auto=1
Min=0

[History]
File=storico.db
INI

# An hour of history for the trend window, with a gap of failed reads.
sqlite3 "$scratch/programma/storico.db" \
    "CREATE TABLE history(time TEXT NOT NULL, cycle INTEGER NOT NULL, device INTEGER NOT NULL,
                          name TEXT NOT NULL, value, line INTEGER NOT NULL);
     WITH RECURSIVE m(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM m WHERE i < 59)
     INSERT INTO history SELECT strftime('%Y-%m-%dT%H:%M:%fZ', 'now', '-' || (60 - i) || ' minutes'),
         i, 1, 'Tensione_AC_1', CASE WHEN i BETWEEN 30 AND 33 THEN NULL ELSE 229 + (i % 12) * 0.25 END,
         0 FROM m;"

# A virtual screen of its own.
Xvfb -displayfd 3 -screen 0 1280x800x24 -br -nolisten tcp 3>"$scratch/display" \
    >"$scratch/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [[ -s "$scratch/display" ]] && break; sleep 0.1; done
[[ -s "$scratch/display" ]] || { echo "screenshots: Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$scratch/display")" XDG_RUNTIME_DIR="$scratch/run" QT_QPA_PLATFORM=xcb

# shot NAME [X Y WIDTH HEIGHT]: the whole screen, cut to the given window or
# else to what is on the (black) screen.
shot() {
    import -window root "$out/$1.png"
    if [[ $# -eq 5 ]]; then
        convert "$out/$1.png" -crop "$4x$5+$2+$3" +repage "$out/$1.png"
    else
        convert "$out/$1.png" -bordercolor black -border 1 -trim +repage "$out/$1.png"
    fi
    echo "screenshots: $out/$1.png"
}

# The program itself: the splash, then the main window once the automatic
# start (two seconds after start-up) has run a few cycles.
"$scratch/programma/Tarvel" >"$scratch/tarvel.log" 2>&1 &
tarvel=$!
pids+=($tarvel)
sleep 0.6
shot splash
sleep 5
shot mainwindow-acquisition
kill "$tarvel"
wait "$tarvel" 2>/dev/null || true

# The same program driven through its menus: the monitor, the trend window,
# the About box, then the scan in "Cerca dispositivi".
"$scratch/programma/tarvel_screenshot_driver" 2>"$scratch/driver.err" |
    while read -r word name; do  # name and the window's place
        [[ "$word" == SHOT ]] && shot $name
    done
