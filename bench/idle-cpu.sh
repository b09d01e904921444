#!/usr/bin/env bash
# CPU use of the waiting screen, the one that stays up all night, against a
# bare Qt Quick window running a BusyIndicator of the spinner's size (the
# floor). Each runs alone in its own Xvfb on the software rasteriser (Mesa
# llvmpipe), in its own network namespace so that the display's port is free.
#   bash bench/idle-cpu.sh DISPLAY_BINARY FLOOR_BINARY [SECONDS] [ROUNDS]
set -euo pipefail
app="$1"; floor="$2"; seconds="${3:-20}"; rounds="${4:-3}"
ticks=$(getconf CLK_TCK)

# CPU seconds (user + system) of process $1 and its threads so far.
cpu() { awk -v t="$ticks" '{ print ($14 + $15) / t }' "/proc/$1/stat"; }

measure() {
    local work; work="$(mktemp -d)"
    mkdir -m 700 "$work/xdg"
    # The display must be the namespace's only listener; the floor does not care.
    # The innermost shell notes its pid, then becomes the program.
    unshare -n sh -c 'ip link set lo up && exec "$@"' sh \
        xvfb-run -a -s "-screen 0 1280x776x24" sh -c 'echo $$ >"$0"; exec "$@"' "$work/pid" \
        env XDG_RUNTIME_DIR="$work/xdg" QT_QPA_PLATFORM=xcb QT_LOGGING_RULES="*.debug=false" "$@" \
        >"$work/log" 2>&1 &
    local runner=$!
    for _ in $(seq 100); do
        [[ -s "$work/pid" ]] && break
        sleep 0.1
    done
    local pid; pid="$(cat "$work/pid" 2>/dev/null || true)"
    [[ -n "$pid" ]] || { echo "did not start: $*" >&2; cat "$work/log" >&2; kill "$runner"; return 1; }
    sleep 5 # start-up done, first frames drawn
    local before after
    before="$(cpu "$pid")"; sleep "$seconds"; after="$(cpu "$pid")"
    kill "$pid"; wait "$runner" 2>/dev/null || true
    rm -rf "$work"
    awk -v a="$before" -v b="$after" -v s="$seconds" 'BEGIN { printf "%.1f", 100 * (b - a) / s }'
}

echo "idle CPU under Xvfb (llvmpipe), ${seconds} s per sample, % of one core"
sum_app=0; sum_floor=0
for round in $(seq "$rounds"); do
    f="$(measure "$floor")"; a="$(measure "$app")"
    echo "round $round: waiting screen $a %, floor (BusyIndicator) $f %"
    sum_app=$(awk -v x="$sum_app" -v y="$a" 'BEGIN { print x + y }')
    sum_floor=$(awk -v x="$sum_floor" -v y="$f" 'BEGIN { print x + y }')
done
awk -v a="$sum_app" -v f="$sum_floor" -v n="$rounds" \
    'BEGIN { printf "mean: waiting screen %.1f %%, floor %.1f %%, ratio %.2f\n", a / n, f / n, (f > 0 ? a / f : 0) }'
