#!/usr/bin/env bash
# Captures every page of the wizard to PNG files under docs/: builds the
# wizard, then runs its pages on a real dump of ../shared/dumps under a
# virtual X display (Xvfb).
#
#   bash scripts/screenshots.sh [DUMP]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

dump="${1:-../shared/dumps/classic/javierzc05__proyecto__respaldos_hr.dmp}"
[ -f "$dump" ] || { echo "No dump at '$dump'" >&2; exit 1; }

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target wizard_screens

# A settings and cache folder of its own: the user's are not touched.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p docs
XDG_CONFIG_HOME="$tmp/config" XDG_CACHE_HOME="$tmp/cache" QT_QPA_PLATFORM=xcb \
  xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" \
  build/release/wizard_screens "$dump" docs
