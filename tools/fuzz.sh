#!/usr/bin/env bash
# Runs the libFuzzer harness of the message dispatch (ASan + UBSan) for a
# number of seconds, starting from the seed corpus in tests/fuzz/corpus.
#   bash tools/fuzz.sh [seconds=60] [extra libFuzzer options]
# New inputs go to build-asan/fuzz-corpus (not into the repository); a crash
# leaves its input in build-asan/fuzz-artifacts/ and makes this fail. Keep
# such an input in tests/fuzz/corpus once it is fixed.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-60}"
shift || true
build="${QV4_ASAN_DIR:-$root/build-asan}"

if [[ ! -x "$build/tests/fuzz/fuzz_dispatch" ]]; then
    QV4_SANITIZE_BUILD_ONLY=1 bash "$root/tools/sanitize.sh" asan
fi
cmake --build "$build" --target fuzz_dispatch

work="$build/fuzz-corpus"
artifacts="$build/fuzz-artifacts"
mkdir -p "$work" "$artifacts"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export LSAN_OPTIONS="suppressions=$root/tools/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$root/tools/sanitizers/ubsan.supp"
# Inputs up to 64 KiB: large enough for many messages, small enough to stay fast.
"$build/tests/fuzz/fuzz_dispatch" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=3072 -max_len=65536 \
    -dict="$root/tests/fuzz/json.dict" -artifact_prefix="$artifacts/" -print_final_stats=1 "$@" \
    "$work" "$root/tests/fuzz/corpus"
