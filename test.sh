#!/usr/bin/env bash
# Sets up, builds everything (tests, benchmarks, fuzz harness) and runs the
# whole test suite headless; non-zero on failure. Arguments go to ctest.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
bash "$root/tools/setup.sh"
build="${QV4_BUILD_DIR:-$root/build}"
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$build/xdg-runtime}"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
cd "$build"
ctest --output-on-failure --timeout 300 -j2 "$@"
