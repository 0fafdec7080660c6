#!/usr/bin/env bash
# Installs the Debian 12 packages the suite needs to build, test and run; does nothing when all are there.
# Prints one line per step; apt's output goes to build/setup.log (or $QUILLON_SETUP_LOG).
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
  cmake ninja-build g++ ccache pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libqt6sql6-sqlite libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libssl-dev nodejs npm
  clang libclang-rt-14-dev clang-format
  dbus dbus-daemon libglib2.0-bin
  fonts-liberation fonts-dejavu-core fonts-ebgaramond
)

# The UA client the OPC UA endpoint's tests drive, at the versions its lockfile pins.
install_ua_client() {
  local folder=tests/ferrow/ua/node
  [ -d "$folder/node_modules/node-opcua-client" ] && return 0
  mkdir -p "$(dirname "${QUILLON_SETUP_LOG:-build/setup.log}")"
  echo "Installing the OPC UA test client's packages (npm ci in $folder)"
  if ! (cd "$folder" && npm ci --no-audit --no-fund) >>"${QUILLON_SETUP_LOG:-build/setup.log}" 2>&1; then
    echo "Failed. npm's output is in ${QUILLON_SETUP_LOG:-build/setup.log}"
    exit 1
  fi
}

missing=()
for p in "${packages[@]}"; do
  # Node.js from another source counts as installed.
  if [ "$p" = nodejs ] || [ "$p" = npm ]; then command -v "$p" >/dev/null && continue; fi
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  install_ua_client
  exit 0
fi

# The package manager's own output goes to a log; the terminal gets one line per step.
log=${QUILLON_SETUP_LOG:-build/setup.log}
mkdir -p "$(dirname "$log")"
: > "$log"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
run() {
  echo "$1"
  shift
  if ! "$@" >>"$log" 2>&1; then
    echo "Failed. The package manager's output is in $log"
    exit 1
  fi
}
run "Updating the package lists (${#missing[@]} packages missing; output in $log)" \
  "${sudo_cmd[@]}" apt-get update -q
run "Installing ${missing[*]}" \
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
install_ua_client
