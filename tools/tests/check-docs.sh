#!/usr/bin/env bash
# Runs documented examples as they are written, where the tools exist:
# - the nft rule of docs/security.md, in network namespaces of its own: the
#   simulator on the display's machine and the terminal get through, another
#   address is dropped;
# - the timestamped QT_MESSAGE_PATTERN of docs/diagnostics.md keeps the
#   category prefix that the diagnostics examples show;
# - every relative link of README.md and docs/ leads to a file, and every
#   #anchor to a heading of it.
# Exit 77 (skipped) when nothing could be run.
# Usage: check-docs.sh SOURCE_DIR DISPLAY SIMULATOR WORK_DIR
#        check-docs.sh --links DIR   (links of every .md under DIR, as installed)
set -uo pipefail

# Prints each link that leads nowhere, as FILE: TARGET; links in code are not links.
dead_links() {
    python3 - "$@" <<'PY'
import os, re, sys
def anchors(path):
    text = re.sub(r"```.*?```", "", open(path, encoding="utf-8").read(), flags=re.S)
    slugs = set()
    for heading in re.findall(r"^#+[ \t]+(.+?)[ \t]*$", text, flags=re.M):
        slug = re.sub(r"[^\w\- ]", "", heading.lower()).replace(" ", "-")
        slugs.add(slug)
    return slugs
for path in sys.argv[1:]:
    text = re.sub(r"```.*?```", "", open(path, encoding="utf-8").read(), flags=re.S)
    text = re.sub(r"`[^`\n]*`", "", text)
    for target in re.findall(r"\]\(([^)\s]+)\)", text):
        if re.match(r"[a-z]+:", target):
            continue
        file, _, anchor = target.partition("#")
        resolved = os.path.normpath(os.path.join(os.path.dirname(path), file)) if file else path
        if not os.path.exists(resolved) or (anchor and anchor not in anchors(resolved)):
            print(f"{path}: {target}")
PY
}

if [[ ${1:-} == --links ]]; then
    mapfile -t documents < <(find "$2" -name '*.md' | sort)
    dead=$(dead_links "${documents[@]}")
    [[ -z $dead ]] || { echo "FAIL: dead links:"; echo "$dead"; exit 1; }
    echo "${#documents[@]} documents, no dead link"
    exit 0
fi

src=$1 app=$2 sim=$3 work=$4
rm -rf "$work" && mkdir -p "$work"
failures=0 ran=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/xdg"
mkdir -m 700 "$XDG_RUNTIME_DIR"
echo '{"path": "bonus", "content": {"count": 5000, "is_replenisment": false}}' >"$work/bonus.json"

# --- QT_MESSAGE_PATTERN ------------------------------------------------------
# The documented line, taken from the document: VARIABLE="..." appqv4App.
pattern=$(sed -nE 's/^ *QT_MESSAGE_PATTERN="([^"]*)" appqv4App.*/\1/p' "$src/docs/diagnostics.md")
if [[ -z $pattern ]]; then
    fail "docs/diagnostics.md has no QT_MESSAGE_PATTERN example"
else
    ran=$((ran + 1))
    # The display's first warning (no --allow-terminal) comes at once; it is stopped then.
    unshare -n true 2>/dev/null && isolate=(unshare -n) || isolate=()
    QT_MESSAGE_PATTERN=$pattern timeout 20 "${isolate[@]}" "$app" 2>"$work/pattern.err" &
    display=$!
    for _ in $(seq 100); do grep -q 'qv4.link' "$work/pattern.err" && break; sleep 0.1; done
    kill "$display" 2>/dev/null
    wait "$display" 2>/dev/null
    grep -Eq '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} qv4\.link: any host on the network' \
        "$work/pattern.err" || fail "QT_MESSAGE_PATTERN=\"$pattern\" gives: $(head -3 "$work/pattern.err")"
fi

# --- The nft rule --------------------------------------------------------------
# The block between "sudo nft -f - <<'END'" and "END", as written.
rule=$(sed -n "/sudo nft -f - <<'END'/,/^ *END\$/p" "$src/docs/security.md" | sed '1d;$d')
if [[ -z $rule ]]; then
    fail "docs/security.md has no nft example"
elif ! command -v nft >/dev/null || ! command -v ip >/dev/null || ! unshare -n true 2>/dev/null; then
    echo "skipped the nft example: needs nft, ip and network namespaces (root)"
else
    ran=$((ran + 1))
    printf '%s\n' "$rule" >"$work/rule.nft"
    # The display's machine is this namespace (192.168.1.10); the terminal's
    # is a second one behind a veth pair, at 192.168.1.20 and then at .99.
    unshare -n bash -s "$app" "$sim" "$work" <<'NETNS' >"$work/nft.log" 2>&1 || fail "nft example: $(cat "$work/nft.log")"
set -u
app=$1 sim=$2 work=$3
ip link set lo up
unshare -n sleep 60 &
terminal=$!
trap 'kill $terminal $display 2>/dev/null' EXIT
sleep 0.2
in_terminal() { nsenter -t "$terminal" -n "$@"; }
ip link add v0 type veth peer name v1 netns "$terminal" || exit 1
ip addr add 192.168.1.10/24 dev v0 && ip link set v0 up
in_terminal ip link set lo up
in_terminal ip addr add 192.168.1.20/24 dev v1 && in_terminal ip link set v1 up
nft -f "$work/rule.nft" || { echo "nft refused the documented rule"; exit 1; }
"$app" 2>"$work/display.err" &
display=$!
"$sim" --host 127.0.0.1 --wait 10 --timeout 2 "$work/bonus.json" ||
    { echo "the simulator on the display's machine did not get through"; exit 1; }
in_terminal "$sim" --host 192.168.1.10 --wait 10 --timeout 2 "$work/bonus.json" ||
    { echo "the terminal at 192.168.1.20 did not get through"; exit 1; }
in_terminal ip addr del 192.168.1.20/24 dev v1
in_terminal ip addr add 192.168.1.99/24 dev v1
in_terminal "$sim" --host 192.168.1.10 --timeout 2 "$work/bonus.json" 2>"$work/foreign.err"
status=$?
[[ $status == 6 ]] && grep -q 'no answer within 2000 ms' "$work/foreign.err" ||
    { echo "192.168.1.99 was not dropped: exit $status, $(cat "$work/foreign.err")"; exit 1; }
NETNS
fi

# --- Links ----------------------------------------------------------------------
ran=$((ran + 1))
dead=$(cd "$src" && dead_links README.md docs/*.md)
[[ -z $dead ]] || fail "dead links: $dead"

((ran)) || exit 77
if ((failures)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "documented examples work"
