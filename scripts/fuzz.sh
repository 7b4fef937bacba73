#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UBSan, in
# build/fuzz) and runs each for a bounded time, seeded from the real dumps
# (scripts/fuzz-seeds.sh) and the regression files, with the format's
# dictionary. Exits 1 when a target crashes, leaks, hangs or runs out of
# memory: the input is then in build/fuzz/findings/<target>/ and belongs in
# tests/fuzz/regressions/<target>/ together with the fix.
#
#   bash scripts/fuzz.sh                              # every target, 60 s each
#   FUZZ_SECONDS=3600 bash scripts/fuzz.sh pump_rows  # one target, one hour
#
# The corpus each run grows is kept in build/fuzz/corpus/<target>/, so
# longer runs pick up where the last one stopped. Without clang the script
# says so and does nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
dir=build/fuzz
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(dump_open classic_rows pump_rows pump_metadata table_list profile context_cache)

if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz: clang++ not found, fuzzing skipped"
  exit 0
fi
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DTALVEX_FUZZ=ON -DTALVEX_TESTS=OFF >/dev/null
cmake --build "$dir" -j "$(nproc)" --target $(printf 'fuzz_%s ' "${targets[@]}")
bash scripts/fuzz-seeds.sh "$dir/seeds"

status=0
for t in "${targets[@]}"; do
  corpus=$dir/corpus/$t
  findings=$dir/findings/$t
  regressions=tests/fuzz/regressions/$t
  mkdir -p "$corpus" "$findings" "$regressions"
  echo "== fuzz_$t for ${seconds}s"
  if ! "$dir/fuzz_$t" "$corpus" "$dir/seeds/$t" "$regressions" \
    -dict=tests/fuzz/talvex.dict -max_total_time="$seconds" -max_len=65536 -timeout=10 \
    -rss_limit_mb=2048 -artifact_prefix="$findings/" -print_final_stats=1 2>"$dir/fuzz_$t.log"; then
    status=1
    tail -n 60 "$dir/fuzz_$t.log"
    echo "fuzz: fuzz_$t failed; its input is in $findings/ (log: $dir/fuzz_$t.log)"
  else
    grep -E "^stat::(number_of_executed_units|new_units_added)" "$dir/fuzz_$t.log" || true
  fi
done
exit $status
