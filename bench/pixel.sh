#!/usr/bin/env bash
# Message to pixel, as the customer sees it: the display against a bare Qt
# Quick floor (and a Chromium page, when chromium is installed), measured
# by the black-box latency harness in the same sitting, targets alternating
# within each round; then a "payment" message to a readable QR code
# (bench_qr_pixel). The display runs on both scene graphs: as it chooses
# here ("display": the software one where there is no GPU) and forced onto
# OpenGL ("display-opengl"), and full screen with --scale fit on a
# 1920x1080 screen ("display-1920x1080-fit", against the page in a
# 1920x1080 window, "browser-1920x1080"). Called by `bench/run.sh pixel`.
#
#   bash bench/pixel.sh DISPLAY_BINARY BENCH_BUILD_DIR
#
# Environment: LATENCY_HARNESS (the harness's `latency` script; looked for
# beside the project otherwise), PIXEL_ROUNDS=3, PIXEL_N=200 (messages per
# harness run), PIXEL_QR_N=100, PIXEL_TARGETS="display display-1920x1080-fit
# display-opengl floor-tuned floor browser browser-1920x1080" (the browser
# ones only where chromium is installed),
# PIXEL_WORK (results).
# Run as root it moves into a private network namespace, so that port 30058
# and the display number never clash with other displays on the machine.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/.." && pwd)"
app="$(readlink -f "$1")"
build="$(readlink -f "$2")"

harness="${LATENCY_HARNESS:-}"
if [[ -z "$harness" ]]; then
    for candidate in "$root/../shared/latency/latency" "$root/../../shared/latency/latency"; do
        [[ -x "$candidate" ]] && harness="$(readlink -f "$candidate")" && break
    done
fi
if [[ -z "$harness" || ! -x "$harness" ]]; then
    echo "pixel: skipped, set LATENCY_HARNESS to the message-to-pixel harness's latency script"
    exit 0
fi

if [[ -z "${PIXEL_IN_NETNS:-}" && "$(id -u)" == 0 ]] && command -v unshare >/dev/null; then
    export PIXEL_IN_NETNS=1 LATENCY_HARNESS="$harness"
    exec unshare -n bash -c 'ip link set lo up && exec bash "$0" "$@"' "${BASH_SOURCE[0]}" "$@"
fi

rounds="${PIXEL_ROUNDS:-3}"
n="${PIXEL_N:-200}"
qr_n="${PIXEL_QR_N:-100}"
targets="${PIXEL_TARGETS-display display-1920x1080-fit display-opengl floor-tuned floor browser browser-1920x1080}"
command -v chromium >/dev/null || targets="$(echo "$targets" | sed 's/browser[^ ]*//g')"
work="${PIXEL_WORK:-${TMPDIR:-/tmp}/qv4-pixel}"
mkdir -p "$work"
export LATENCY_WORK="$work/harness"

free_display() {
    local d
    while :; do
        d=$((100 + RANDOM % 100))
        [[ -e "/tmp/.X$d-lock" || -e "/tmp/.X11-unix/X$d" ]] || { echo ":$d"; return; }
    done
}

run_harness() { # scenario target round
    local scenario="$1" target="$2" round="$3" out="$work/$1-$2-$3" probe_args=""
    local -a cmd env=()
    # The order scenarios. 30lines-chip changes one line of a 30-line order
    # (its recipe chip comes and goes), which only the display can show: the
    # last line, which the view keeps in sight once the receipt is shown.
    case "$scenario" in
    30lines) env=(LINES_JSON="$here/pixel/order30.json") ;;
    30lines-chip)
        env=(LINES_JSON="$here/pixel/order30.json" EMPTY_JSON="$here/pixel/order30_chip.json" PX=1020 PY=594)
        probe_args="--color 404040"
        ;;
    esac
    case "$target" in
    display) cmd=("$harness" native "$app") ;;
    display-opengl) cmd=("$harness" native "$app") && env+=(QSG_RHI_BACKEND=opengl) ;;
    # The logo's centre, 1058,300 at 1280x776, scaled by 1080 / 776.
    display-1920x1080-fit) cmd=("$harness" native "$app" --use-fullscreen --scale fit) && env+=(SIZE=1920x1080 PX=1611 PY=418) ;;
    floor-tuned) cmd=("$harness" floor) && env+=(QT_QPA_UPDATE_IDLE_TIME=0) ;;
    floor) cmd=("$harness" floor) ;;
    browser) cmd=("$harness" browser) ;;
    # The page's logo stays where it is (1058,300 lies inside it) in a larger window.
    browser-1920x1080) cmd=("$harness" browser) && env+=(SIZE=1920x1080) ;;
    esac
    rm -rf "$out"
    env "${env[@]}" PROBE_ARGS="$probe_args" RUNS=1 N="$n" DISP="$(free_display)" OUT="$out" "${cmd[@]}" \
        >"$out.log" 2>&1 || { echo "pixel: $scenario/$target round $round failed, see $out.log" >&2; return 0; }
    grep -h '^RESULT' "$out/run1.txt" | sed "s/^RESULT label=[^ ]* [^ ]* [^ ]* /$scenario $target round $round: /" || true
}

run_qr() { # round target
    local out="$work/qr-$2-$1" disp
    local -a env=()
    [[ "$2" == display-opengl ]] && env=(QSG_RHI_BACKEND=opengl)
    disp="$(free_display)"
    mkdir -p "$out"
    setsid Xvfb "$disp" -screen 0 1280x800x24 -dpi 96 -nolisten tcp >"$out/xvfb.log" 2>&1 &
    local xvfb=$!
    for _ in $(seq 300); do xdpyinfo -display "$disp" >/dev/null 2>&1 && break; sleep 0.1; done
    env -u WAYLAND_DISPLAY DISPLAY="$disp" QT_QPA_PLATFORM=xcb "${env[@]}" setsid "$app" >"$out/display.log" 2>&1 &
    local display=$!
    "$build/bench/bench_qr_pixel" --display "$disp" --n "$qr_n" --qr-json "$here/pixel/payment_qr.json" \
        --done-json "$here/pixel/payment_done.json" >"$out/result.txt" 2>&1 || true
    kill -TERM -- "-$display" "-$xvfb" 2>/dev/null || true
    wait "$display" "$xvfb" 2>/dev/null || true
    sed -n '/^metric/,$p' "$out/result.txt" | grep -v '^RESULT' | sed 's/^/    /'
    grep -h '^RESULT' "$out/result.txt" | sed "s/^RESULT qr /payment $2 round $1: /" ||
        echo "pixel: payment round $1 failed, see $out/result.txt" >&2
}

echo "# message to pixel: $rounds rounds, $n messages per harness run; targets: $targets"
for round in $(seq "$rounds"); do
    echo "# round $round, load average $(cut -d' ' -f1-3 /proc/loadavg)"
    for scenario in 1line 30lines 30lines-chip; do
        for target in $targets; do
            [[ "$scenario" == 30lines-chip && "$target" != display && "$target" != display-opengl ]] && continue
            run_harness "$scenario" "$target" "$round"
        done
    done
    for target in display display-opengl; do
        [[ " $targets " == *" $target "* && -x "$build/bench/bench_qr_pixel" ]] && run_qr "$round" "$target"
    done
done

# Pooled over the rounds: medians and p99 per scenario and target, and the
# display's ratios to the tuned floor and to the browser page (at 1920x1080,
# the display there to the page there).
/usr/bin/python3 - "$work" "$rounds" "$targets" <<'EOF'
import csv, glob, math, os, sys
work, rounds, targets = sys.argv[1], int(sys.argv[2]), sys.argv[3].split()
def pct(v, p):
    return v[max(1, min(len(v), math.ceil(p * len(v)))) - 1]
def pooled(scenario, target):
    v = []
    for r in range(1, rounds + 1):
        f = os.path.join(work, f"{scenario}-{target}-{r}", "run1.csv")
        if os.path.exists(f):
            v += [float(x["first_change_ms"]) for x in csv.DictReader(open(f))
                  if x["warmup"] == "0" and float(x["first_change_ms"]) >= 0]
    return sorted(v)
print("\n# pooled over the rounds (first change, ms)")
print(f"{'scenario':<14}{'target':<13}{'n':>6}{'median':>9}{'p99':>9}{'max':>9}  display ratio (median, p99)")
for scenario in ("1line", "30lines", "30lines-chip"):
    for target in targets:
        if scenario == "30lines-chip" and not target.startswith("display"):
            continue
        v = pooled(scenario, target)
        if not v:
            continue
        d = pooled(scenario, "display-1920x1080-fit" if target == "browser-1920x1080" else "display")
        ratio = ""
        ref = v if target != "display" else pooled("30lines", "floor-tuned") if scenario == "30lines-chip" else []
        if d and ref:
            ratio = f"{pct(d, .5) / pct(ref, .5):.2f}, {pct(d, .99) / pct(ref, .99):.2f}"
            if target == "display":
                ratio += " (against 30lines floor-tuned)"
        print(f"{scenario:<14}{target:<13}{len(v):>6}{pct(v, .5):>9.2f}{pct(v, .99):>9.2f}{v[-1]:>9.2f}  {ratio}")
EOF
