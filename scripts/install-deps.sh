#!/usr/bin/env bash
# Installs, with apt-get, the Debian 12 packages that Tarvel needs. Packages
# already present are left alone. Run as root.
#
#   scripts/install-deps.sh --demo [--check]   what the demo needs: the build
#                                              tools and the libraries of the
#                                              programs (scripts/demo.sh)
#   scripts/install-deps.sh [--test] [--check] that and what the tests need:
#                                              GoogleTest, benchmarks, the
#                                              broker, clang for the fuzzers,
#                                              a virtual X server and two
#                                              window managers (test-all.sh)
#
# With --check it installs nothing and exits 1 when a package is missing.
# The system's default window manager and session (the x-window-manager and
# x-session-manager alternatives) stay as they were, and a Mosquitto broker
# service that the install starts or enables is stopped and disabled again
# unless it ran before: the tests start brokers of their own.
set -euo pipefail

demo_packages=(
  build-essential cmake ninja-build pkg-config
  file  # the Debian package's dependencies are found from its binaries
  qt6-base-dev qt6-serialport-dev qt6-charts-dev libqt6opengl6-dev qt6-translations-l10n
  libmodbus-dev libmosquitto-dev libssl-dev libsqlite3-dev libcpp-httplib-dev
  fonts-dejavu-core
)
test_packages=(
  libgtest-dev libgmock-dev libbenchmark-dev
  mosquitto mosquitto-clients sqlite3 openssl
  python3-pymodbus python3-serial-asyncio  # its server imports this; pymodbus only recommends it
  clang libclang-rt-14-dev
  xvfb openbox icewm
  chromium python3-prometheus-client  # the web page's and the metrics' tests
)

which=test check=0
for arg in "$@"; do
  case $arg in
    --demo) which=demo ;;
    --test) which=test ;;
    --check) check=1 ;;
    -h | --help) sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "install-deps.sh: unknown option \"$arg\" (--demo, --test, --check)" >&2; exit 2 ;;
  esac
done
packages=("${demo_packages[@]}")
[[ $which == demo ]] || packages+=("${test_packages[@]}")

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
if ((check)); then
  ((${#missing[@]} == 0))
  exit
fi
((${#missing[@]})) || exit 0

# What the window managers' and the broker's packages change, as it was.
alternatives=(x-window-manager x-session-manager)
declare -A chosen
for name in "${alternatives[@]}"; do
  chosen[$name]=$(update-alternatives --query "$name" 2>/dev/null | sed -n 's/^Value: //p' || true)
done
# A running systemd answers for the services; in a chroot or a container
# without one, the init scripts' links do.
has_systemd() { [[ -d /run/systemd/system ]] && command -v systemctl >/dev/null; }
broker_before=absent
if installed mosquitto; then
  broker_before=present
  if has_systemd && systemctl is-active --quiet mosquitto; then broker_before=running; fi
  if ! has_systemd && pgrep -x mosquitto >/dev/null; then broker_before=running; fi
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"

for name in "${alternatives[@]}"; do
  now=$(update-alternatives --query "$name" 2>/dev/null | sed -n 's/^Value: //p' || true)
  [[ $now == "${chosen[$name]}" ]] && continue
  if [[ -z ${chosen[$name]} ]]; then
    update-alternatives --remove-all "$name"
  else
    update-alternatives --set "$name" "${chosen[$name]}"
  fi
  echo "install-deps: $name stays ${chosen[$name]:-unset}"
done
# A broker this install brought stays off; one that was there keeps its
# state (a stopped one that was enabled before stays enabled).
if [[ $broker_before == absent ]] && installed mosquitto; then
  if has_systemd; then
    systemctl disable --now mosquitto >/dev/null 2>&1 || true
  else
    if [[ -x /etc/init.d/mosquitto ]]; then /etc/init.d/mosquitto stop >/dev/null 2>&1 || true; fi
    if command -v systemctl >/dev/null; then systemctl disable mosquitto >/dev/null 2>&1 || true; fi
    if command -v update-rc.d >/dev/null; then update-rc.d mosquitto disable >/dev/null 2>&1 || true; fi
  fi
  echo "install-deps: the mosquitto service is stopped and disabled (the tests start their own)"
fi
