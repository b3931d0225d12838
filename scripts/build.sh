#!/usr/bin/env bash
# Configures and builds the project. Usage: scripts/build.sh [BUILD_DIR] [extra cmake args...]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$here/build"}
shift || true
# Let ccache share results between checkouts in different folders.
export CCACHE_BASEDIR="$here" CCACHE_NOHASHDIR=true
# Warnings are errors in development and CI builds (a user's plain cmake build leaves them off).
cmake -S "$here" -B "$build" -G Ninja -DCB_WERROR=ON "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
