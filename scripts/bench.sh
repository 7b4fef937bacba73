#!/usr/bin/env bash
# Conversion benchmark. Writes the synthetic dumps once into the folder it
# is given (they are kept there for later runs; nothing goes into the
# repository), then converts each several times and prints one table row per
# dump: the best of the runs (least CPU), next to the floor of the same
# machine (reading the dump with cat and writing the same CSV bytes).
#
#   bash scripts/bench.sh /work/bench-data [runs]
#
# Environment:
#   BENCH_SET   which dumps (default "1g"):
#                 1g     classic and Data Pump mixed, classic wide, classic
#                        50 MB CLOBs, classic many small tables (1 GiB each)
#                 3g     classic and Data Pump mixed of 3 GiB
#                 small  the 1g set at 100 MiB (a quick look)
#   BENCH_OPTS  further TALVEXCLI options for every conversion (--jobs=2)
#   BENCH_CLI   the program to measure (default build/release/TALVEXCLI),
#               e.g. an older build for a before/after comparison
#
# Columns: dump and CSV MB (MiB), wall, user and sys seconds, MB of dump per
# CPU-second (user + sys), wall time over the floor's, peak RSS and peak
# heap (bytes held by malloc, measured with build/release/libheap_peak.so).
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -ge 1 ] || { echo "usage: bash scripts/bench.sh FOLDER [runs]" >&2; exit 2; }
data=$1
runs=${2:-3}
set_name=${BENCH_SET:-1g}
opts=${BENCH_OPTS:-}
dir=build/release
mkdir -p "$data"
data=$(realpath "$data")
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j "$(nproc)" --target make_large_dump TALVEXCLI heap_peak >/dev/null
cli=$(realpath "${BENCH_CLI:-$dir/TALVEXCLI}")
heap_lib=$(realpath "$dir/libheap_peak.so")

# name: generator options, size in MiB, tables
case $set_name in
  1g)
    dumps=("classic_mixed_1g|--profile=mixed|1024|20" "pump_mixed_1g|--pump --profile=mixed|1024|20"
      "classic_wide_1g|--profile=wide|1024|20" "classic_clob_1g|--profile=clob|1024|1"
      "classic_small_1g|--profile=small|1024|5000") ;;
  3g)
    dumps=("classic_mixed_3g|--profile=mixed|3072|20" "pump_mixed_3g|--pump --profile=mixed|3072|20") ;;
  small)
    dumps=("classic_mixed_100m|--profile=mixed|100|20" "pump_mixed_100m|--pump --profile=mixed|100|20"
      "classic_wide_100m|--profile=wide|100|20" "classic_clob_100m|--profile=clob|100|1"
      "classic_small_100m|--profile=small|100|1000") ;;
  *) echo "unknown BENCH_SET $set_name" >&2; exit 2 ;;
esac

echo "# $(date -u '+%F %T') UTC, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg), options '$opts'"
printf "%-20s %8s %8s %7s %7s %6s %8s %6s %8s %8s\n" dump dump_MB csv_MB wall user sys MB/cpu_s floor RSS_MB heap_MB
for entry in "${dumps[@]}"; do
  IFS='|' read -r name gen size tables <<<"$entry"
  dump="$data/$name.dmp"
  if [ ! -f "$dump" ]; then
    # shellcheck disable=SC2086
    "$dir/make_large_dump" $gen "$dump" "$size" "$tables"
  fi
  out="$data/out_$name"
  best=""
  for ((r = 0; r < runs; r++)); do
    rm -rf "$out" "$data/floor.csv"
    # The floor: the dump read through the page cache, the same CSV bytes
    # written (after the converter has made them).
    # shellcheck disable=SC2086
    /usr/bin/time -f "%e %U %S %M" -o "$data/time.txt" \
      env HEAP_PEAK_FILE="$data/heap.txt" LD_PRELOAD="$heap_lib" \
      "$cli" --src="$dump" --dest="$out" --silent $opts || true
    read -r wall user sys rss <"$data/time.txt"
    heap=$(cat "$data/heap.txt")
    fstart=$(date +%s%N)
    cat "$dump" >/dev/null
    cat "$out"/*.csv >"$data/floor.csv"
    sync -f "$data/floor.csv" 2>/dev/null || true
    floor=$(( $(date +%s%N) - fstart ))
    cpu=$(echo "$user + $sys" | bc -l)
    # Keep the run with the least CPU time.
    if [ -z "$best" ] || [ "$(echo "$cpu < $(cut -d' ' -f1 <<<"$best")" | bc -l)" = 1 ]; then
      best="$cpu $wall $user $sys $rss $heap $floor"
    fi
  done
  read -r cpu wall user sys rss heap floor <<<"$best"
  dump_mb=$(echo "scale=1; $(stat -c %s "$dump") / 1048576" | bc -l)
  csv_mb=$(echo "scale=1; $(du -cb "$out"/*.csv | tail -1 | cut -f1) / 1048576" | bc -l)
  rate=$(echo "scale=0; $dump_mb / $cpu" | bc -l)
  ratio=$(echo "scale=2; $wall * 1000000000 / $floor" | bc -l)
  printf "%-20s %8s %8s %7s %7s %6s %8s %6s %8s %8s\n" "$name" "$dump_mb" "$csv_mb" "$wall" "$user" \
    "$sys" "$rate" "$ratio" "$(echo "scale=1; $rss / 1024" | bc -l)" \
    "$(echo "scale=1; $heap / 1048576" | bc -l)"
  rm -rf "$out" "$data/floor.csv" "$data/time.txt" "$data/heap.txt"
done
