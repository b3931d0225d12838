#!/usr/bin/env bash
# Installs what is missing, builds and starts Cellarbright.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bash "$here/scripts/install-deps.sh"
bash "$here/scripts/build.sh" "$here/build"
app="$here/build/Cellarbright.app/Contents/MacOS/cellarbright"
if [ -x "$app" ]; then
  exec "$app" "$@"
fi
# Until the window lands, the scan driver shows the scan of the home folder.
exec "$here/build/bench/cbscan" "${1:-$HOME}"
