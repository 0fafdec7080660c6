#!/usr/bin/env bash
# Runs bench/ferrow_ua after the build (the target ua_bench_server): installs the peer server and the
# client once (npm ci in bench/ferrow_ua/node, from its lockfile), then the driver. Arguments go to the
# driver, e.g. --policy Basic256Sha256 --mode SignAndEncrypt. FERROW_BUILD_DIR names another build tree.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${FERROW_BUILD_DIR:-$here/../../build}"
server="$build/bin/ua_bench_server"
if [ ! -x "$server" ]; then
  echo "No $server: build it first (cmake --build build --target ua_bench_server)" >&2
  exit 1
fi
if [ ! -d "$here/node/node_modules/node-opcua-server" ]; then
  echo "Installing node-opcua-server and node-opcua-client 2.133.0 (npm ci in bench/ferrow_ua/node)" >&2
  (cd "$here/node" && npm ci --no-audit --no-fund >/dev/null)
fi
exec node "$here/node/driver.js" --server "$server" "$@"
