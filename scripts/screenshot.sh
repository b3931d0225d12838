#!/usr/bin/env bash
# Saves a PNG of the Cellarbright window, run under a virtual X display (Xvfb).
#
#   bash scripts/screenshot.sh OUTPUT.png [FOLDER] [BUILD_DIR]
#
# With FOLDER the app scans it at launch and the picture shows the disk map; without it the
# picture shows the welcome screen. The app is taken from BUILD_DIR (default: build/), which
# must hold a built Cellarbright.app (bash scripts/build.sh). Preferences and data go to a
# temporary folder, so the user's own settings are neither used nor changed; set LANG
# (e.g. LANG=de_DE.UTF-8) to pick the interface language, and CELLARBRIGHT_TEST_REFRESH=1 to
# take the map after one refresh.
#
# The app's test hook does the work: CELLARBRIGHT_TEST_SCREENSHOT names the picture and
# CELLARBRIGHT_TEST_SCAN the folder (see app/ScreenshotHook.h). It prints the window's size and
# the number of its top-level windows, and exits non-zero when no picture was saved.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -lt 1 ]; then
  echo "usage: $0 OUTPUT.png [FOLDER] [BUILD_DIR]" >&2
  exit 2
fi
output=$(realpath -m "$1")
folder=${2:-}
build=${3:-"$here/build"}
app="$build/Cellarbright.app/Contents/MacOS/cellarbright"
if [ ! -x "$app" ]; then
  echo "screenshot: $app is missing; build first (bash scripts/build.sh)" >&2
  exit 1
fi
if [ -n "$folder" ]; then
  folder=$(realpath "$folder")
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data" \
  XDG_CACHE_HOME="$scratch/cache" XDG_RUNTIME_DIR="$scratch/runtime"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=xcb
CELLARBRIGHT_TEST_SCREENSHOT="$output" CELLARBRIGHT_TEST_SCAN="$folder" \
  timeout 180 xvfb-run -a -s "-screen 0 1440x900x24" "$app"
echo "screenshot: $output"
