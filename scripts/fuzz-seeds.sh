#!/usr/bin/env bash
# Writes the seed corpora of the fuzz targets into a folder (default
# build/fuzz/seeds), made afresh from the real dumps in ../shared/dumps (or
# $TALVEX_DUMPS) each time: small files whole, large ones as their first
# block and as windows over their table sections behind a copy of the
# header. Nothing of the dumps is kept in the project.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/fuzz/seeds}
dumps=${TALVEX_DUMPS:-../shared/dumps}
limit=65536   # the fuzzers' -max_len
window=16384  # bytes of a table section in one seed
per_file=8    # sections taken from one dump

rm -rf "$out"
mkdir -p "$out"/{dump_open,classic_rows,pump_rows,pump_metadata,table_list,profile,context_cache}

printf 'EMP\nDEPT\n' >"$out/table_list/plain"
printf '\xEF\xBB\xBFEMP\r\n\r\nSCOTT.DEPT\r\n' >"$out/table_list/bom_crlf"
printf 'emp\nEMP\nX-ARTI\n\n\n' >"$out/table_list/cases"
# Our own small seeds for the profile and cache readers.
for t in profile context_cache; do
  find "tests/fuzz/seeds/$t" -maxdepth 1 -type f -exec cp {} "$out/$t/" \;
done

if [ ! -d "$dumps" ]; then
  echo "fuzz-seeds: $dumps not found; the regression files are the only seeds"
  exit 0
fi

# Header (first `head` bytes) + the window starting at each offset.
windows() {
  local file=$1 head=$2 target=$3 name=$4
  shift 4
  local i=0 off
  for off in "$@"; do
    { head -c "$head" "$file"
      dd if="$file" iflag=skip_bytes,count_bytes skip="$off" count="$window" bs=65536 status=none
    } >"$out/$target/$name.$i"
    i=$((i + 1))
  done
}

for f in "$dumps"/classic/* "$dumps"/datapump/* "$dumps"/datapump_set/* "$dumps"/spatial/* \
  "$dumps"/damaged/*; do
  [ -f "$f" ] || continue
  name=$(basename "$f")
  head -c "$limit" "$f" >"$out/dump_open/$name"
  case $f in
    */classic/*)
      head -c "$limit" "$f" >"$out/classic_rows/$name"
      # A statement begins after a line feed: the window starts on it.
      mapfile -t offs < <(grep -obaP 'CREATE TABLE' "$f" | cut -d: -f1 | head -n "$per_file")
      [ "$(stat -c %s "$f")" -gt "$limit" ] && windows "$f" 1024 classic_rows "$name" \
        $(for o in "${offs[@]}"; do echo $((o > 0 ? o - 1 : 0)); done)
      ;;
    *)
      head -c "$limit" "$f" >"$out/pump_rows/$name"
      # A stream document starts some 40 bytes before its STRMTABLE_T.
      mapfile -t offs < <(grep -obaP '<STRMTABLE_T>' "$f" | cut -d: -f1 | head -n "$per_file")
      [ "$(stat -c %s "$f")" -gt "$limit" ] && windows "$f" 4096 pump_rows "$name" \
        $(for o in "${offs[@]}"; do echo $((o > 256 ? o - 256 : 0)); done)
      i=0
      while IFS= read -r -d '' doc; do
        [ ${#doc} -le "$limit" ] || continue
        printf '%s' "$doc" >"$out/pump_metadata/$name.$i.xml"
        i=$((i + 1))
        [ $i -lt 40 ] || break
      done < <(grep -zaoP '(?s)<\?xml version="1\.0"\?><ROWSET><ROW>.*?</ROW></ROWSET>' "$f" || true)
      ;;
  esac
done
for t in dump_open classic_rows pump_rows pump_metadata table_list profile context_cache; do
  echo "fuzz-seeds: $t $(find "$out/$t" -type f | wc -l) files"
done
