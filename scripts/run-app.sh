#!/usr/bin/env bash
# Installs what is missing, builds and starts Cellarbright.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bash "$here/scripts/install-deps.sh"
bash "$here/scripts/build.sh" "$here/build"
exec "$here/build/Cellarbright.app/Contents/MacOS/cellarbright" "$@"
