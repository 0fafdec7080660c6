#!/usr/bin/env bash
# Checks that every C++ file git tracks is formatted as the repository's .clang-format says, and names
# the files that are not. `scripts/format-check.sh --fix` formats them in place.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
if report=$(clang-format --dry-run -Werror "${files[@]}" 2>&1); then
  echo "All ${#files[@]} C++ files are formatted."
  exit 0
fi
echo "Not formatted (scripts/format-check.sh --fix formats them):"
grep -oE '^[^:]+:[0-9]+:[0-9]+: error' <<<"$report" | cut -d: -f1 | sort -u | sed 's/^/  /'
exit 1
