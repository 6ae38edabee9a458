#!/usr/bin/env bash
# Installs, with apt-get, the Debian 12 packages Tarvel needs to build, test
# and run its demo. Packages already present are left alone. Run as root.
# With --check it installs nothing and exits 1 when a package is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  file  # the package's dependencies are computed from the binaries it finds
  qt6-base-dev qt6-serialport-dev qt6-translations-l10n qt6-charts-dev libqt6opengl6-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libmodbus-dev
  mosquitto mosquitto-clients libmosquitto-dev libssl-dev libsqlite3-dev sqlite3 openssl
  clang libclang-rt-14-dev
  xvfb xauth x11-apps x11-utils openbox icewm imagemagick fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [[ ${1:-} == --check ]]; then
  ((${#missing[@]} == 0))
  exit
fi
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
