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

# Package states as dpkg-query reports them; "absent" is unknown to dpkg.
cat >"$work/states" <<'STATES'
ready       install ok installed
pending     install ok triggers-pending
awaited     install ok triggers-awaited
held        hold ok installed
removed     deinstall ok config-files
half        install ok half-configured
unknown     absent
STATES
cat >"$work/bin/dpkg-query" <<'FAKE'
#!/bin/sh
pkg=$(eval echo "\${$#}")
line=$(grep "^$pkg " "$FAKE_DIR/states" | sed -E 's/^[^ ]+ +//')
[ -n "$line" ] && [ "$line" != absent ] || { echo "dpkg-query: no packages found matching $pkg" >&2; exit 1; }
printf '%s' "$line"
FAKE
cat >"$work/bin/apt-get" <<'FAKE'
#!/bin/sh
echo "$*" >>"$FAKE_DIR/apt.log"
for word in "$@"; do
    case "$word" in update | install) [ ! -e "$FAKE_DIR/fail-$word" ] || exit 100 ;; esac
done
FAKE
printf '#!/bin/sh\nexec "$@"\n' >"$work/bin/sudo"
chmod +x "$work/bin/"*

failures=0
# Rows: packages listed | apt step that fails | expected exit | packages apt must install
while IFS='|' read -r listed failing expected_exit expected_install; do
    listed=$(xargs <<<"$listed") failing=$(xargs <<<"$failing")
    expected_exit=$(xargs <<<"$expected_exit") expected_install=$(xargs <<<"$expected_install")
    [[ -z $listed || $listed == \#* ]] && continue
    tr ' ' '\n' <<<"$listed" >"$work/tree/tools/apt-packages.txt"
    rm -f "$work/apt.log" "$work/fail-update" "$work/fail-install"
    [[ $failing == - ]] || touch "$work/fail-$failing"
    status=0
    FAKE_DIR="$work" PATH="$work/bin:$PATH" QV4_SETUP_PACKAGES_ONLY=1 \
        bash "$work/tree/tools/setup.sh" >"$work/out" 2>&1 || status=$?
    row="[$listed; $failing fails]"
    [[ $status == "$expected_exit" ]] || { echo "FAIL $row: exit $status, expected $expected_exit"; failures=$((failures + 1)); }
    if [[ $expected_install == - ]]; then
        [[ ! -e $work/apt.log ]] || { echo "FAIL $row: apt ran: $(cat "$work/apt.log")"; failures=$((failures + 1)); }
        continue
    fi
    # Every apt call waits for the lock.
    if grep -v -- '-o DPkg::Lock::Timeout=300' "$work/apt.log" | grep -q .; then
        echo "FAIL $row: apt called without waiting for its lock: $(cat "$work/apt.log")"
        failures=$((failures + 1))
    fi
    if [[ $failing != update ]] && ! grep -q -- "install -y -q --no-install-recommends $expected_install\$" "$work/apt.log"; then
        echo "FAIL $row: expected to install '$expected_install', apt got: $(cat "$work/apt.log")"
        failures=$((failures + 1))
    fi
    if [[ $failing != - ]] &&
        ! grep -qF "by hand: sudo apt-get update && sudo apt-get install --no-install-recommends $expected_install" "$work/out"; then
        echo "FAIL $row: the failure does not name the command to run by hand:"
        cat "$work/out"
        failures=$((failures + 1))
    fi
done <<'ROWS'
# listed                                  | fails   | exit | installed
ready pending awaited held                | -       | 0    | -
ready removed pending half unknown        | -       | 0    | removed half unknown
ready unknown                             | update  | 1    | unknown
pending unknown                           | install | 1    | unknown
ROWS

if ((failures)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "set-up checks passed"
