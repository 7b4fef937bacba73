#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian machine.
# Idempotent: packages already present are left alone.
set -euo pipefail

packages=(
  build-essential g++ cmake make pkg-config
  libgtest-dev libgmock-dev googletest
  libxerces-c-dev libutfcpp-dev nlohmann-json3-dev
  libgeos-dev
  libbenchmark-dev  # micro-benchmarks of the row path (bench_row_path)
  clang-format
  # The desktop wizard (Qt 6 Widgets, Qt Test), and a virtual display with a
  # font for its screenshots.
  qt6-base-dev xvfb xauth fonts-dejavu-core
  clang libclang-rt-14-dev llvm  # the fuzz targets (libFuzzer, sanitizers, symbolizer)
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
