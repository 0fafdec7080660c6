#!/usr/bin/env bash
# The demo: installs what is missing, builds, starts a simulated device on 127.0.0.1 and the programs
# with 127.0.0.1 in their device list. Without a display the programs run offscreen and each saves a
# screenshot of its window to build/demo/screenshots.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh

demo=build/demo
mkdir -p "$demo/program" "$demo/device" "$demo/config"
export QUILLON_PROGRAM_DIR="$PWD/$demo/program"
export XDG_CONFIG_HOME="$PWD/$demo/config"
# The device holds UDP 4242 on 127.0.0.1; Pavane sends from the same port on another loopback address.
export PAVANE_LOCAL_ADDRESS=127.0.0.2
[ -f "$QUILLON_PROGRAM_DIR/qnIPs.txt" ] || printf '127.0.0.1\r\n' > "$QUILLON_PROGRAM_DIR/qnIPs.txt"

build/bin/quillon-devsim --address 127.0.0.1 --root "$demo/device" > "$demo/devsim.log" 2>&1 &
devsim_pid=$!
trap 'kill $devsim_pid 2>/dev/null || true' EXIT
sleep 0.5
if ! kill -0 $devsim_pid 2>/dev/null; then
  echo "The simulated device did not start:"; cat "$demo/devsim.log"; exit 1
fi
echo "Simulated device on 127.0.0.1 (files in $demo/device, log in $demo/devsim.log)"

programs=()
for p in vantor ferrow lintra pavane merrow; do
  [ -x "build/bin/$p" ] && programs+=("$p")
done

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export QT_QPA_PLATFORM=offscreen
  export QUILLON_SCREENSHOT_DIR="$PWD/$demo/screenshots"
  mkdir -p "$QUILLON_SCREENSHOT_DIR"
  echo "No display: running the programs offscreen, one after the other."
  for p in "${programs[@]}"; do
    QUILLON_DEMO_CONNECT=127.0.0.1 timeout 60 "build/bin/$p" || echo "$p ended with status $?"
  done
  echo "Screenshots are in $QUILLON_SCREENSHOT_DIR:"
  ls -1 "$QUILLON_SCREENSHOT_DIR"
else
  echo "Starting: ${programs[*]}. In Vantor, double-click 127.0.0.1 and type help. Close Vantor to end the demo."
  for p in "${programs[@]}"; do
    [ "$p" = vantor ] && continue
    "build/bin/$p" &
  done
  build/bin/vantor
fi
