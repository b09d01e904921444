#!/usr/bin/env bash
# Runs tools/setup.sh (packages only) against stand-ins for dpkg-query and
# apt-get: which package states count as installed, that apt waits for its
# lock, and that a failure names the command to run by hand.
# Usage: check-setup.sh WORK_DIR
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
work=$1
rm -rf "$work" && mkdir -p "$work/tree/tools" "$work/bin"
cp "$here/../setup.sh" "$work/tree/tools/"
# Package name, then its state as dpkg-query reports it; unknown to dpkg when none.
printf '%s\n' 'ready install ok installed' 'pending install ok triggers-pending' \
    'awaited install ok triggers-awaited' 'held hold ok installed' 'removed deinstall ok config-files' \
    'half install ok half-configured' >"$work/states"
cat >"$work/bin/dpkg-query" <<'FAKE'
#!/bin/sh
pkg=$(eval echo "\${$#}")
grep "^$pkg " "$FAKE_DIR/states" | sed -E 's/^[^ ]+ //' | grep . || exit 1
FAKE
cat >"$work/bin/apt-get" <<'FAKE'
#!/bin/sh
echo "$*" >>"$FAKE_DIR/apt.log"
for word in "$@"; do [ ! -e "$FAKE_DIR/fail-$word" ] || exit 100; done
FAKE
printf '#!/bin/sh\nexec "$@"\n' >"$work/bin/sudo"
chmod +x "$work/bin/"*

failures=0
fail() { echo "FAIL [$listed; $failing fails]: $*" && failures=$((failures + 1)); }
while read -r listed failing expected_exit expected_install; do
    [[ $listed == \#* ]] && continue
    listed=${listed//,/ } expected_install=${expected_install//,/ }
    tr ' ' '\n' <<<"$listed" >"$work/tree/tools/apt-packages.txt"
    rm -f "$work/apt.log" "$work"/fail-*
    touch "$work/fail-$failing"
    status=0
    FAKE_DIR="$work" PATH="$work/bin:$PATH" QV4_SETUP_PACKAGES_ONLY=1 \
        bash "$work/tree/tools/setup.sh" >"$work/out" 2>&1 || status=$?
    [[ $status == "$expected_exit" ]] || fail "exit $status, expected $expected_exit"
    if [[ $expected_install == - ]]; then
        [[ ! -e $work/apt.log ]] || fail "apt ran: $(cat "$work/apt.log")"
        continue
    fi
    grep -v -- '-o DPkg::Lock::Timeout=300' "$work/apt.log" | grep -q . && fail "apt does not wait for its lock"
    [[ $failing == update ]] || grep -q -- "install -y -q --no-install-recommends $expected_install\$" \
        "$work/apt.log" || fail "expected to install '$expected_install', apt got: $(cat "$work/apt.log")"
    [[ $failing == - ]] || grep -qF "by hand: sudo apt-get update && sudo apt-get install --no-install-recommends \
$expected_install" "$work/out" || fail "no command to run by hand: $(cat "$work/out")"
done <<'ROWS'
# listed                        fails    exit  installed
ready,pending,awaited,held      -        0     -
ready,removed,pending,half,new  -        0     removed,half,new
ready,new                       update   1     new
pending,new                     install  1     new
ROWS
((failures == 0)) && echo "set-up checks passed"
