#!/usr/bin/env bash
# Converts every dump of the corpus (../shared/dumps) and every dump of the
# folders given, and prints one line per CSV file with its SHA-256, plus
# one line per dump with the exit status and the SHA-256 of the console
# output. Two runs (before and after a change) compare with diff:
#
#   bash scripts/corpus-checksums.sh > /tmp/before.txt
#   ... change, rebuild ...
#   bash scripts/corpus-checksums.sh > /tmp/after.txt
#   diff /tmp/before.txt /tmp/after.txt && echo identical
#
# Usage: bash scripts/corpus-checksums.sh [-b TALVEXCLI] [-o 'options'] [folder|dump ...]
#   -b  the program to run (default build/release/TALVEXCLI)
#   -o  further options for every conversion (e.g. '--inc_fnames --n_delim=2')
# A dump set (datapump_set) is converted once, from its first file. The
# corpus folder is taken from TALVEX_DUMPS (default ../shared/dumps).
set -euo pipefail
cd "$(dirname "$0")/.."
cli=build/release/TALVEXCLI
extra=""
while getopts "b:o:" opt; do
  case $opt in
    b) cli=$OPTARG ;;
    o) extra=$OPTARG ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[ -x "$cli" ] || { echo "no program $cli (build first)" >&2; exit 2; }
cli=$(realpath "$cli")
corpus=${TALVEX_DUMPS:-../shared/dumps}

dumps=()
if [ -d "$corpus" ]; then
  for sub in classic datapump datapump_compressed spatial damaged; do
    [ -d "$corpus/$sub" ] || continue
    while IFS= read -r f; do dumps+=("$f"); done < <(find "$corpus/$sub" -maxdepth 1 -type f \
      -iname '*.dmp' | LC_ALL=C sort)
  done
  if [ -d "$corpus/datapump_set" ]; then
    first=$(find "$corpus/datapump_set" -maxdepth 1 -type f -iname '*01.dmp' | LC_ALL=C sort | head -1)
    [ -n "$first" ] && dumps+=("$first")
  fi
fi
for arg in "$@"; do
  if [ -d "$arg" ]; then
    while IFS= read -r f; do dumps+=("$f"); done < <(find "$arg" -maxdepth 1 -type f \
      -iname '*.dmp' | LC_ALL=C sort)
  else
    dumps+=("$arg")
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for dump in "${dumps[@]}"; do
  label=$(basename "$(dirname "$dump")")/$(basename "$dump")
  out="$work/out"
  rm -rf "$out"
  mkdir -p "$out"
  status=0
  # shellcheck disable=SC2086
  "$cli" --src="$dump" --dest="$out" $extra >"$work/console" 2>&1 || status=$?
  # The console names the destination folder: print it as a fixed word.
  console=$(sed "s|$out|DEST|g" "$work/console" | sha256sum | cut -c1-16)
  echo "$label status=$status console=$console"
  (cd "$out" && find . -type f | LC_ALL=C sort | while IFS= read -r f; do
    echo "$label ${f#./} $(sha256sum <"$f" | cut -c1-64)"
  done)
done
