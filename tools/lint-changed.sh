#!/usr/bin/env bash
# clang-format and clang-tidy over the C++ this branch changed: the lines a
# change touched must be formatted as .clang-format says, and the files it
# touched must pass the checks of .clang-tidy. The tree is not reformatted.
#
# Compared with LINT_BASE if set, otherwise with where the branch left
# main; on main itself (or without it), with the commit before. A clone
# too shallow for either has nothing to compare with and checks nothing.
# Needs a configured build (compile_commands.json): QV4_BUILD_DIR or build/.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
build="${QV4_BUILD_DIR:-$root/build}"

base="${LINT_BASE:-}"
if [ -z "$base" ]; then
    for main in main origin/main; do
        if base=$(git merge-base HEAD "$main" 2>/dev/null); then
            break
        fi
    done
    if [ -z "$base" ] || [ "$base" = "$(git rev-parse HEAD)" ]; then
        base=$(git rev-parse -q --verify 'HEAD^' || true)
    fi
fi
if [ -z "$base" ]; then
    echo "lint: no earlier commit to compare with (shallow clone); nothing checked"
    exit 0
fi

mapfile -t files < <(git diff --name-only --diff-filter=ACMR "$base" -- \
    'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'tools/*.cpp' 'tools/*.h' 'bench/*.cpp' 'bench/*.h')
if [ ${#files[@]} -eq 0 ]; then
    echo "lint: no C++ changed since $(git rev-parse --short "$base")"
    exit 0
fi
echo "lint: ${#files[@]} C++ file(s) changed since $(git rev-parse --short "$base")"

status=0
# Only the changed lines; prints the fix it would make.
if ! out=$(git clang-format --binary clang-format --diff "$base" -- "${files[@]}" 2>&1); then
    status=1
fi
case "$out" in
*"no modified files to format"* | *"clang-format did not modify any files"* | "") ;;
*) echo "$out"; echo "lint: formatting differs from .clang-format (git clang-format $base)"; status=1 ;;
esac

# The checks of .clang-tidy, over the program's own sources that changed.
sources=()
for f in "${files[@]}"; do
    case "$f" in src/*.cpp) sources+=("$f") ;; esac
done
if [ ${#sources[@]} -gt 0 ]; then
    if [ ! -f "$build/compile_commands.json" ]; then
        echo "lint: $build/compile_commands.json missing: configure the build first"
        exit 1
    fi
    # (Its count of the warnings it suppressed is left out.)
    clang-tidy -p "$build" --quiet "${sources[@]}" 2> >(grep -v ' warnings\? generated\.$' >&2) || status=1
fi
exit $status
