#!/usr/bin/env bash
# The demo: installs what is missing, builds only what the demo runs (the simulated device and the
# programs listed below, not the tests), starts a simulated device on 127.0.0.1 and the programs with
# 127.0.0.1 in their device list. Without a display the programs run offscreen and each saves a
# screenshot of its window to build/demo/screenshots. One line per step; the details go to logs in
# build/demo.
set -euo pipefail
cd "$(dirname "$0")/.."

# The programs the demo starts, in this order (the first is the one that ends the demo on a desktop).
programs=(vantor ferrow lintra pavane merrow)

demo=build/demo
mkdir -p "$demo/program" "$demo/device" "$demo/config"

QUILLON_SETUP_LOG="$demo/setup.log" scripts/setup.sh

build_log=$demo/build.log
echo "Building the simulated device and ${programs[*]} (output in $build_log)"
if ! { cmake -S . -B build -G Ninja && cmake --build build --target quillon-devsim "${programs[@]}"; } >"$build_log" 2>&1; then
  echo "The build failed; the last lines of $build_log:"
  tail -n 20 "$build_log"
  exit 1
fi

export QUILLON_PROGRAM_DIR="$PWD/$demo/program"
export XDG_CONFIG_HOME="$PWD/$demo/config"
# The device holds UDP 4242 on 127.0.0.1; Pavane sends from the same port on another loopback address.
export PAVANE_LOCAL_ADDRESS=127.0.0.2
[ -f "$QUILLON_PROGRAM_DIR/qnIPs.txt" ] || printf '127.0.0.1\r\n' > "$QUILLON_PROGRAM_DIR/qnIPs.txt"
# Ferrow's configuration: one device, Device1 at 127.0.0.1, in the configuration file's own format.
printf '\xff\xff\x01\x00\x04\x00CDoc\x02\x00\xff\xff\x01\x00\x09\x00OTagGroup\x05Group\x00\x01\x00\x01\x00%b%b%b%b' \
  '\xff\xff\x01\x00\x07\x00ODevice\x00\x00\x00\x00\x00\x00\x00\x00' \
  '\xff\xff\x01\x00\x0d\x00ODeviceParams\x03127\x010\x010\x011' \
  '\xe8\x03\x00\x00\x00\x00\x02\x80' '\x07Device1\x00\x01\x00\x00\x00' > "$demo/demo.tdb"
# The arguments each program starts with.
args_of() { [ "$1" = ferrow ] && echo "$demo/demo.tdb"; true; }

build/bin/quillon-devsim --address 127.0.0.1 --root "$demo/device" > "$demo/devsim.log" 2>&1 &
devsim_pid=$!
trap 'kill $devsim_pid 2>/dev/null || true' EXIT
sleep 0.5
if ! kill -0 $devsim_pid 2>/dev/null; then
  echo "The simulated device did not start:"; cat "$demo/devsim.log"; exit 1
fi
echo "Simulated device on 127.0.0.1 (files in $demo/device, log in $demo/devsim.log)"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export QT_QPA_PLATFORM=offscreen
  export QUILLON_SCREENSHOT_DIR="$PWD/$demo/screenshots"
  mkdir -p "$QUILLON_SCREENSHOT_DIR"
  echo "No display: running the programs offscreen, one after the other."
  for p in "${programs[@]}"; do
    QUILLON_DEMO_CONNECT=127.0.0.1 timeout 60 "build/bin/$p" $(args_of "$p") >>"$demo/programs.log" 2>&1 || echo "$p ended with status $?"
  done
  echo "Screenshots are in $QUILLON_SCREENSHOT_DIR:"
  ls -1 "$QUILLON_SCREENSHOT_DIR"
else
  first=${programs[0]}
  echo "Starting: ${programs[*]}. In Vantor, double-click 127.0.0.1 and type help. Close $first to end the demo."
  for p in "${programs[@]:1}"; do
    "build/bin/$p" $(args_of "$p") >>"$demo/programs.log" 2>&1 &
  done
  "build/bin/$first"
fi
