#!/usr/bin/env bash
# Configures and builds the suite in ./build (Release, Ninja). Extra arguments go to CMake.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja "$@" >/dev/null
cmake --build build
