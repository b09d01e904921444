#!/usr/bin/env bash
# What a terminal flapping the payment dialogs costs: CPU of the display and
# of the X server while bench/flap_client.py sends RATE "payment" messages a
# second (QR request, finish, card request, finish, ...), and with the
# terminal connected but silent (rate 0). Each sample runs the display alone
# in its own Xvfb (1280x800, the default renderer) and network namespace;
# the binaries alternate within each round, so compare them as ratios.
#
#   bash bench/flap-cpu.sh [SECONDS] [ROUNDS] [RATE] LABEL=BINARY...
# FLAP_DISPLAY picks the X display number (default 31).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
ticks=$(getconf CLK_TCK)

cpu_ticks() { local p s=0; for p in "$@"; do s=$((s + $(awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$p/stat" 2>/dev/null || echo 0))); done; echo "$s"; }

if [[ "${1:-}" == --inner ]]; then # inside the namespace: app rate seconds display
    app="$2" rate="$3" seconds="$4" num="$5"
    ip link set lo up
    work="$(mktemp -d)"; mkdir -m 700 "$work/xdg"
    xvfb-run -n "$num" -s "-screen 0 1280x800x24 -dpi 96" sh -c 'echo $$ >"$0"; exec "$@"' "$work/pid" \
        env XDG_RUNTIME_DIR="$work/xdg" QT_QPA_PLATFORM=xcb QT_LOGGING_RULES="*.debug=false" "$app" \
        >"$work/log" 2>&1 &
    runner=$!
    for _ in $(seq 100); do [[ -s "$work/pid" ]] && break; sleep 0.1; done
    pid="$(cat "$work/pid")"
    xvfb="$(pgrep -P "$(ps -o ppid= "$pid" | tr -d ' ')" Xvfb | head -1)"
    sleep 8 # start-up done, first frames drawn
    sleep $((seconds + 3)) | /usr/bin/python3 "$here/flap_client.py" 30058 "$rate" $((seconds + 2)) >"$work/client" 2>&1 &
    sleep 1
    a="$(cpu_ticks "$pid")"; xa="$(cpu_ticks "$xvfb")"
    sleep "$seconds"
    b="$(cpu_ticks "$pid")"; xb="$(cpu_ticks "$xvfb")"
    kill "$pid" 2>/dev/null; wait "$runner" 2>/dev/null || true
    sleep 1
    awk -v a="$a" -v b="$b" -v xa="$xa" -v xb="$xb" -v s="$seconds" -v t="$ticks" \
        'BEGIN { printf "%.1f %.1f\n", 100 * (b - a) / t / s, 100 * (xb - xa) / t / s }'
    rm -rf "$work"
    exit 0
fi

seconds="${1:-20}" rounds="${2:-3}" rate="${3:-47}"
shift 3
echo "payment dialogs flapped at $rate messages/s, ${seconds} s per sample, % of one core (display, X server)"
for round in $(seq "$rounds"); do
    line="round $round:"
    for target in "$@"; do
        label="${target%%=*}" app="$(readlink -f "${target#*=}")"
        for r in 0 "$rate"; do
            read -r c x < <(unshare -n bash "${BASH_SOURCE[0]}" --inner "$app" "$r" "$seconds" "${FLAP_DISPLAY:-31}")
            line+=" $label@$r $c (X $x);"
        done
    done
    echo "$line"
done
