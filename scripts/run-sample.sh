#!/usr/bin/env bash
# Builds TALVEXCLI, writes a small classic export dump and converts it into
# ./out (one CSV file per table).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

dir=build/release
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j "$(nproc)" --target TALVEXCLI make_sample_dump
"$dir/make_sample_dump" "$dir/sample.dmp"
"$dir/TALVEXCLI" --src="$dir/sample.dmp" --dest=out --n_delim=2
echo "CSV files written to $(pwd)/out:"
ls -l out
