#!/usr/bin/env bash
# Builds the fuzz targets with clang in build-fuzz and runs each, one after the other, for N seconds
# (first argument, default 20) from its seeds in tests/fuzz/corpus. Further arguments name the targets
# to run (default: all). Any crash, leak, hang or sanitizer report fails the run; the input that caused
# it is kept in build-fuzz/findings/<target>/ and the fuzzer's output in build-fuzz/logs/<target>.log.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
[ $# -gt 0 ] && shift

mkdir -p build-fuzz
if ! { cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
         -DQUILLON_FUZZ=ON && cmake --build build-fuzz --target quillon_fuzzers; } >build-fuzz/build.log 2>&1; then
  echo "Building the fuzz targets failed; the last lines of build-fuzz/build.log:"
  tail -n 20 build-fuzz/build.log
  exit 1
fi

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in build-fuzz/bin/*_fuzz; do targets+=("$(basename "$f")"); done
fi

status=0
for t in "${targets[@]}"; do
  corpus=build-fuzz/corpus/$t findings=build-fuzz/findings/$t log=build-fuzz/logs/$t.log
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  seeds=()
  [ -d "tests/fuzz/corpus/$t" ] && seeds=("tests/fuzz/corpus/$t")
  # New inputs go to the first folder (the build's), never into the seeds in the repository.
  if build-fuzz/bin/"$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$findings/" "$corpus" "${seeds[@]}" >"$log" 2>&1; then
    result=ok
  else
    result="FAILED (see $log; input in $findings/)"
    status=1
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  printf '%-24s %ss  %s execs  coverage %s  %s\n' "$t" "$seconds" "${execs:-?}" "${cov:-?}" "$result"
done
exit $status
