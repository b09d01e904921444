#!/usr/bin/env bash
# Lints every document of the module with Qt's all_qmllint target, which
# passes the module's own import paths and resources, and fails on any
# warning. The one notice left out is Debian's: its Qt5Compat.GraphicalEffects
# names a type file it does not ship.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QV4_BUILD_DIR:-$root/build}"

out="$(cmake --build "$build" --target all_qmllint 2>&1)" || true
if ! grep -q qmllint <<<"$out"; then
    echo "$out" >&2
    echo "qmllint: the lint target did not run" >&2
    exit 1
fi
warnings="$(grep '^Warning: ' <<<"$out" | grep -v 'Qt5Compat/GraphicalEffects/private/plugins.qmltypes' || true)"
if [[ -n "$warnings" ]]; then
    echo "$out" >&2
    echo "qmllint: $(wc -l <<<"$warnings") warnings" >&2
    exit 1
fi
echo "qmllint: 0 warnings"
