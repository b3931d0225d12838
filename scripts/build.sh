#!/usr/bin/env bash
# Configures and builds the project. Usage: scripts/build.sh [BUILD_DIR] [extra cmake args...]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build"}
shift || true
# Let ccache share results between checkouts in different folders.
export CCACHE_BASEDIR="$here" CCACHE_NOHASHDIR=true
cmake -S "$here" -B "$build" -G Ninja "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
