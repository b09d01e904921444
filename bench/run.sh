#!/usr/bin/env bash
# Builds the benchmarks in Release (build-bench/) and runs them all; each
# prints its figures beside the floor measured in the same run.
#   bash bench/run.sh            # everything
#   bash bench/run.sh latency    # only the benchmarks whose name contains it
#   bash bench/run.sh idle       # the waiting screen's CPU and memory under Xvfb on both scene graphs,
#                                # full screen with --scale fit at 1280x800, 1920x1080 and 1080x1920,
#                                # against a BusyIndicator and a Chromium page
#   bash bench/run.sh pixel      # message to pixel and payment to QR under Xvfb on both scene
#                                # graphs, and at 1920x1080 with --scale fit (bench/pixel.sh; only
#                                # when named: about 50 minutes)
#   bash bench/run.sh month [DAYS [MESSAGES_PER_DAY]]
#                                # a month of a busy till replayed (bench_month; only when named:
#                                # about 10 to 20 minutes for 30 days of 6 700 messages)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QV4_BENCH_DIR:-$root/build-bench}"
filter="${1:-}"

if [[ ! -f "$build/build.ninja" ]]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV4_BUILD_TESTS=OFF
fi
cmake --build "$build" --target bench_all appqv4App

export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR="${XDG_RUNTIME_DIR:-$build/xdg-runtime}"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

echo "# $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)"
echo "# Qt $(qtpaths6 --qt-version 2>/dev/null || echo '?'), load average $(cut -d' ' -f1-3 /proc/loadavg)"
run() {
    local name="$1"; shift
    [[ -n "$filter" && "$name" != *"$filter"* ]] && return 0
    echo
    "$@"
}
run latency "$build/bench/bench_latency"
run debugline "$build/bench/bench_debugline"
run throughput "$build/bench/bench_throughput" "$root/bench/flood_client.py"
run qr "$build/bench/bench_qr"
run schedule "$build/bench/bench_schedule"
run startup "$build/bench/bench_startup" "$build/bench/bench_startup_app" "$build/bench/bench_startup_floor" offscreen
if command -v xvfb-run >/dev/null; then
    run idle bash "$root/bench/idle-cpu.sh" "$build/appqv4App" "$build/bench/bench_idle_floor"
fi
[[ "$filter" == pixel ]] && run pixel bash "$root/bench/pixel.sh" "$build/appqv4App" "$build"
[[ "$filter" == month ]] && run month "$build/bench/bench_month" "${2:-30}" "${3:-6700}" "$build/month-last-screen.png"
if command -v xvfb-run >/dev/null; then
    # As the display chooses here, then forced onto OpenGL (the floor is OpenGL both times).
    run startup xvfb-run -a -s "-screen 0 1280x800x24" \
        "$build/bench/bench_startup" "$build/bench/bench_startup_app" "$build/bench/bench_startup_floor" xcb
    run startup env QSG_RHI_BACKEND=opengl xvfb-run -a -s "-screen 0 1280x800x24" \
        "$build/bench/bench_startup" "$build/bench/bench_startup_app" "$build/bench/bench_startup_floor" xcb
fi
