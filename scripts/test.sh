#!/usr/bin/env bash
# The whole test suite, headless: installs what is missing, builds everything, checks the format, runs
# every test with CTest (and the fuzz targets for a short while when clang is installed). The last lines
# say which stages failed, if any.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
export QT_QPA_PLATFORM=offscreen
failed=()

# Every C++ source follows .clang-format.
echo "== Format (scripts/format-check.sh)"
scripts/format-check.sh || failed+=("format (scripts/format-check.sh lists the files)")

# The threaded code once more under ThreadSanitizer, in a second, small build.
if [ -x scripts/test-tsan.sh ]; then
  scripts/test-tsan.sh || failed+=("ThreadSanitizer (scripts/test-tsan.sh; build-tsan/)")
fi

# Every parser the network feeds, 20 seconds under the fuzzer each, when clang is there (setup.sh
# installs it); a finding fails the run.
if command -v clang++ >/dev/null; then
  echo "== Fuzzing (build-fuzz; each target 20 s)"
  scripts/fuzz.sh 20 || failed+=("fuzzing (scripts/fuzz.sh; findings in build-fuzz/findings/)")
fi

# Every test.
(cd build && ctest --output-on-failure -j "$(nproc)" --timeout 600) || failed+=("CTest (build/Testing/Temporary/LastTest.log)")

echo
if [ ${#failed[@]} -eq 0 ]; then
  echo "== All stages passed: format, ThreadSanitizer, fuzzing, CTest"
  exit 0
fi
echo "== Failed stages:"
for stage in "${failed[@]}"; do echo "   - $stage"; done
exit 1
