#!/usr/bin/env bash
# Sets up, builds and starts the display in a window; arguments go to the
# program (for example --use-fullscreen).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
bash "$root/tools/setup.sh"
build="${QV4_BUILD_DIR:-$root/build}"
exec "$build/appqv4App" "$@"
