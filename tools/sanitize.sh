#!/usr/bin/env bash
# Builds the whole project with clang and a sanitizer in its own build folder
# and runs the test suite there, headless.
#   bash tools/sanitize.sh asan   # AddressSanitizer + UndefinedBehaviorSanitizer, build-asan/,
#                                 # every test, plus the fuzz harness (tools/fuzz.sh)
#   bash tools/sanitize.sh tsan   # ThreadSanitizer, build-tsan/, only the tests labelled
#                                 # "threads" (see below)
# Extra arguments go to ctest (e.g. -LE soak to leave out the long tests).
#
# Debian's Qt is not built with sanitizers: ASan and UBSan check our code and
# every access it makes, and LeakSanitizer sees Qt's allocations too (the few
# it keeps for the process lifetime are suppressed in tools/sanitizers/lsan.supp).
# ThreadSanitizer cannot see the synchronisation inside uninstrumented Qt
# (QMutex's slow path, QFuture, the thread pool, queued events), so it runs
# only the tests where our own threads meet: the pool hand-off of the receipt
# and promo models and the ordered message pipeline, with Qt's internals
# suppressed in tools/sanitizers/tsan.supp.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
mode="${1:-}"
shift || true

case "$mode" in
asan)
    build="${QV4_ASAN_DIR:-$root/build-asan}"
    flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer -fsanitize=fuzzer-no-link"
    extra=(-DQV4_BUILD_FUZZ=ON)
    labels=(-LE opengl) # Mesa's allocations are not ours to check
    ;;
tsan)
    build="${QV4_TSAN_DIR:-$root/build-tsan}"
    flags="-fsanitize=thread -fno-omit-frame-pointer"
    extra=()
    labels=(-L threads)
    ;;
*)
    echo "usage: $0 asan|tsan [ctest arguments]" >&2
    exit 2
    ;;
esac

# Packages (clang and its sanitizer runtimes among them) come from the list.
QV4_SETUP_PACKAGES_ONLY=1 bash "$root/tools/setup.sh"

if [[ ! -f "$build/build.ninja" ]]; then
    CXX=clang++-14 cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_CXX_FLAGS="-O1 -g $flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" \
        -DQV4_BUILD_BENCH=OFF "${extra[@]}"
fi
cmake --build "$build"
[[ -n "${QV4_SANITIZE_BUILD_ONLY:-}" ]] && exit 0

supp="$root/tools/sanitizers"
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$build/xdg-runtime}"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1"
export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$supp/ubsan.supp"
export TSAN_OPTIONS="suppressions=$supp/tsan.supp:halt_on_error=1:second_deadlock_stack=1:report_signal_unsafe=0:ignore_noninstrumented_modules=1"
cd "$build"
ctest --output-on-failure --timeout 600 -j2 "${labels[@]}" "$@"
