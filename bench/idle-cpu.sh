#!/usr/bin/env bash
# What the waiting screen, the one that stays up all night, costs the shop:
# CPU of the program and of the X server, and the program's resident memory.
# Each target runs alone in its own Xvfb (1280x800, Mesa's llvmpipe for
# OpenGL: no GPU), in its own network namespace so that the display's port
# is free, targets alternating within each round:
#   display          the display as it starts here (--renderer auto)
#   display-WxH-fit  the same full screen with --scale fit on a WxH screen: 1280x800,
#                    1920x1080 and 1080x1920 (portrait)
#   display-opengl   the display forced onto OpenGL (--renderer opengl)
#   floor            a bare Qt Quick window running a BusyIndicator of the spinner's size
#   chromium         bench/waiting.html in a Chromium kiosk (all its processes), where installed
#
#   bash bench/idle-cpu.sh DISPLAY_BINARY FLOOR_BINARY [SECONDS] [ROUNDS]
# IDLE_TARGETS="display display-1920x1080-fit" measures only those.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
app="$(readlink -f "$1")"; floor="$(readlink -f "$2")"; seconds="${3:-20}"; rounds="${4:-3}"
ticks=$(getconf CLK_TCK)
targets="display display-1280x800-fit display-1920x1080-fit display-1080x1920-fit display-opengl floor"
command -v chromium >/dev/null && targets+=" chromium"
targets="${IDLE_TARGETS:-$targets}"

# The process and all its descendants.
tree() {
    local pid="$1" child
    echo "$pid"
    for child in $(pgrep -P "$pid" || true); do tree "$child"; done
}
# CPU ticks (user + system) of these processes so far.
cpu_ticks() { local p s=0; for p in "$@"; do s=$((s + $(awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$p/stat" 2>/dev/null || echo 0))); done; echo "$s"; }
rss_mb() { local p s=0; for p in "$@"; do s=$((s + $(awk '/^VmRSS/ { print $2 }' "/proc/$p/status" 2>/dev/null || echo 0))); done; echo $((s / 1024)); }

measure() { # target -> "program% xserver% rssMB"
    local target="$1" work; work="$(mktemp -d)"
    mkdir -m 700 "$work/xdg"
    local -a cmd
    local size=1280x800
    case "$target" in
    display) cmd=("$app") ;;
    display-*-fit) size="${target#display-}" && size="${size%-fit}" && cmd=("$app" --use-fullscreen --scale fit) ;;
    display-opengl) cmd=("$app" --renderer opengl) ;;
    floor) cmd=("$floor") ;;
    chromium) cmd=(chromium --kiosk --no-sandbox --no-first-run --disable-gpu --user-data-dir="$work/chromium"
                   --window-position=0,0 --window-size=1280,800 "file://$here/waiting.html") ;;
    esac
    # The innermost shell notes its pid, then becomes the program.
    unshare -n sh -c 'ip link set lo up && exec "$@"' sh \
        xvfb-run -a -s "-screen 0 ${size}x24 -dpi 96" sh -c 'echo $$ >"$0"; exec "$@"' "$work/pid" \
        env XDG_RUNTIME_DIR="$work/xdg" QT_QPA_PLATFORM=xcb QT_LOGGING_RULES="*.debug=false" "${cmd[@]}" \
        >"$work/log" 2>&1 &
    local runner=$!
    for _ in $(seq 100); do
        [[ -s "$work/pid" ]] && break
        sleep 0.1
    done
    local pid; pid="$(cat "$work/pid" 2>/dev/null || true)"
    [[ -n "$pid" ]] || { echo "did not start: ${cmd[*]}" >&2; cat "$work/log" >&2; kill "$runner"; return 1; }
    local xvfb; xvfb="$(pgrep -P "$(ps -o ppid= "$pid" | tr -d ' ')" Xvfb | head -1)"
    sleep 8 # start-up done, first frames drawn
    local -a procs; mapfile -t procs < <(tree "$pid")
    local before xbefore after xafter rss
    before="$(cpu_ticks "${procs[@]}")"; xbefore="$(cpu_ticks "$xvfb")"
    sleep "$seconds"
    mapfile -t procs < <(tree "$pid") # a browser may have started helpers meanwhile
    after="$(cpu_ticks "${procs[@]}")"; xafter="$(cpu_ticks "$xvfb")"; rss="$(rss_mb "${procs[@]}")"
    kill "$pid" 2>/dev/null; wait "$runner" 2>/dev/null || true
    rm -rf "$work"
    awk -v a="$before" -v b="$after" -v xa="$xbefore" -v xb="$xafter" -v s="$seconds" -v t="$ticks" -v r="$rss" \
        'BEGIN { printf "%.1f %.1f %d\n", 100 * (b - a) / t / s, 100 * (xb - xa) / t / s, r }'
}

echo "idle CPU of the waiting screen under Xvfb (no GPU), ${seconds} s per sample, % of one core"
declare -A cpu xcpu rss
for round in $(seq "$rounds"); do
    line="round $round:"
    for target in $targets; do
        read -r c x r < <(measure "$target")
        cpu[$target]+="$c "; xcpu[$target]+="$x "; rss[$target]+="$r "
        line+=" $target $c % (X $x %, $r MB);"
    done
    echo "$line"
done
mean() { echo "$1" | awk '{ for (i = 1; i <= NF; i++) s += $i; printf "%.1f", s / NF }'; }
range() { echo "$1" | tr ' ' '\n' | sed '/^$/d' | sort -n | sed -n '1p;$p' | paste -sd '-'; }
ref="$(mean "${cpu[chromium]:-}" 2>/dev/null || true)"
printf "\n%-22s %16s %14s %12s %18s\n" target "CPU % (range)" "X server %" "RSS MB" "ratio to chromium"
for target in $targets; do
    c="$(mean "${cpu[$target]}")"
    ratio="-"
    [[ -n "${cpu[chromium]:-}" ]] && ratio="$(awk -v a="$c" -v b="$ref" 'BEGIN { printf (b > 0 ? "%.2f" : "-"), a / b }')"
    printf "%-22s %8s (%s) %14s %12s %18s\n" "$target" "$c" "$(range "${cpu[$target]}")" \
        "$(mean "${xcpu[$target]}")" "$(mean "${rss[$target]}")" "$ratio"
done
