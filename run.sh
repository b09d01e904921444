#!/usr/bin/env bash
# Sets up, builds and starts the display in a window; arguments go to the
# program (for example --use-fullscreen).
#   --demo       also plays examples/full-sale.jsonl in a loop against it
#   --demo=FILE  plays another scenario instead
# The demo player stops when the display's window is closed.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

demo=""
args=()
for arg in "$@"; do
    case "$arg" in
    --demo) demo="$root/examples/full-sale.jsonl" ;;
    --demo=*) demo="${arg#--demo=}" ;;
    *) args+=("$arg") ;;
    esac
done

# Only what runs here: the display and the simulator; ./test.sh builds the rest.
bash "$root/tools/setup.sh" appqv4App qv4-terminal-sim
build="${QV4_BUILD_DIR:-$root/build}"
if [[ -z "$demo" ]]; then
    exec "$build/appqv4App" "${args[@]}"
fi

if [[ ! -r "$demo" ]]; then
    echo "run.sh: cannot read the scenario $demo" >&2
    exit 2
fi
# The player would feed whatever display holds the port, not the one started here.
if (exec 3<>/dev/tcp/127.0.0.1/30058) 2>/dev/null; then
    echo "run.sh: port 30058 is taken (is another display running?); close it first" >&2
    exit 1
fi

"$build/appqv4App" "${args[@]}" &
display=$!
# A few seconds of the waiting dialog with the display's addresses, then the sale.
(
    sleep 3
    exec "$build/tools/terminal-sim/qv4-terminal-sim" --wait 60 --loop "$demo"
) &
player=$!

stop_player() {
    kill "$player" 2>/dev/null || true
    wait "$player" 2>/dev/null || true
}
stop_display() {
    kill "$display" 2>/dev/null || true
    wait "$display" 2>/dev/null || true
}
trap 'stop_player; stop_display' INT TERM

status=0
wait "$display" || status=$?
stop_player
exit "$status"
