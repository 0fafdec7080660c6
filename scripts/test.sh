#!/usr/bin/env bash
# The whole test suite, headless: installs what is missing, builds everything, runs every test with
# CTest (and the fuzz targets for a short while when clang is installed).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
export QT_QPA_PLATFORM=offscreen
status=0

# The threaded code once more under ThreadSanitizer, in a second, small build.
if [ -x scripts/test-tsan.sh ]; then
  scripts/test-tsan.sh || status=$?
fi

# Every parser the network feeds, 20 seconds under the fuzzer each, when clang is there (setup.sh
# installs it); a finding fails the run.
if command -v clang++ >/dev/null; then
  echo "== Fuzzing (build-fuzz; each target 20 s)"
  scripts/fuzz.sh 20 || status=$?
fi

# Every test; CTest's summary is the last thing printed.
(cd build && ctest --output-on-failure -j "$(nproc)" --timeout 600) || status=$?
exit $status
