#!/usr/bin/env bash
# The whole test suite, headless: installs what is missing, builds, runs every test with CTest.
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

# Every test; CTest's summary is the last thing printed.
(cd build && ctest --output-on-failure -j "$(nproc)" --timeout 600) || status=$?
exit $status
