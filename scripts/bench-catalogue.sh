#!/usr/bin/env bash
# Benchmark of the catalogue: writes a large synthetic classic dump (default
# 3072 MiB in 200 tables) and times opening it from a scan and from its
# context cache file. Usage: bash scripts/bench-catalogue.sh [MiB] [tables] [dump path]
set -euo pipefail
cd "$(dirname "$0")/.."
size=${1:-3072}
tables=${2:-200}
dump=${3:-build/release/bench-large.dmp}
dir=build/release
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j "$(nproc)" --target make_large_dump bench_catalogue TALVEXCLI >/dev/null
if [ ! -f "$dump" ] || [ "$(( $(stat -c %s "$dump") >> 20 ))" -lt "$size" ]; then
  echo "writing $dump ($size MiB, $tables tables)"
  "$dir/make_large_dump" "$dump" "$size" "$tables"
fi
"$dir/bench_catalogue" "$dump"
start=$(date +%s%N)
"$dir/TALVEXCLI" --src="$dump" --list >/dev/null
echo "TALVEXCLI --list from the cache: $(( ($(date +%s%N) - start) / 1000000 )) ms"
