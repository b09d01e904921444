#!/usr/bin/env bash
# Builds the Debian package from a build folder and checks what it installs,
# what it declares it depends on, lintian's verdict, that it removes and purges
# cleanly, and that the start at login (switch, launcher, service) works from
# the unpacked tree.
# Usage: check-deb.sh BUILD_DIR WORK_DIR "dep1;dep2;..."
set -euo pipefail

build=$1
work=$2
IFS=';' read -r -a required <<<"$3"

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

rm -rf "$work"
mkdir -p "$work"
if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack"
    exit 1
fi
debs=("$work"/*.deb)
[[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || {
    echo "FAIL: expected one .deb in $work"
    exit 1
}
deb=${debs[0]}
echo "package: $(basename "$deb") ($(stat -c %s "$deb") bytes)"

# --- Control fields -------------------------------------------------------
[[ $(dpkg-deb -f "$deb" Package) == qv4-order-screen ]] || fail "Package is $(dpkg-deb -f "$deb" Package)"
[[ $(dpkg-deb -f "$deb" Architecture) == "$(dpkg --print-architecture)" ]] || fail "Architecture"
[[ $(dpkg-deb -f "$deb" Version) =~ ^[0-9]+\.[0-9]+\.[0-9]+-[0-9]+$ ]] || fail "Version $(dpkg-deb -f "$deb" Version)"
[[ -n $(dpkg-deb -f "$deb" Maintainer) ]] || fail "no Maintainer"
[[ -n $(dpkg-deb -f "$deb" Description) ]] || fail "no Description"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
declare -A declared=()
IFS=',' read -r -a entries <<<"$depends"
for entry in "${entries[@]}"; do
    name=$(sed -E 's/^ *([^ (]+).*$/\1/' <<<"$entry")
    declared[$name]=1
done
for dep in "${required[@]}"; do
    [[ -n ${declared[$dep]:-} ]] || fail "Depends lacks $dep"
done
# Every library the two programs link comes with a declared package, versioned
# where its symbols have grown since its first release.
for program in appqv4App qv4-terminal-sim; do dpkg-deb --fsys-tarfile "$deb" | tar -xOf - "./usr/bin/$program"; done >"$work/programs.bin"
linked=$(readelf -d "$work/programs.bin" | sed -nE 's/.*\(NEEDED\).*\[(.*)\]/\1/p' | sort -u)
[[ -n $linked ]] || fail "cannot read the libraries the programs link"
for soname in $linked; do
    lib=$(dpkg -S "*/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/$soname" 2>/dev/null | head -1 | cut -d: -f1)
    [[ -n $lib && -n ${declared[$lib]:-} ]] || fail "Depends lacks ${lib:-the package} for $soname"
done
for lib in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6network6 libqt6qml6 libqt6websockets6 libzxing2; do
    grep -Eq "(^|, )${lib//+/\\+} \(>= [0-9][^)]*\)(,|$)" <<<"$depends" || fail "Depends lacks a versioned $lib"
done

# Each declared package must exist for apt, or the install cannot resolve.
if apt-cache show --no-all-versions libc6 >/dev/null 2>&1; then
    for dep in "${!declared[@]}"; do
        apt-cache show --no-all-versions "$dep" >/dev/null 2>&1 || fail "no Debian package named $dep"
    done
fi

# --- Contents -------------------------------------------------------------
dpkg-deb -c "$deb" >"$work/contents.txt"
has() { grep -Eq "$1" "$work/contents.txt"; }
expect_file() { has " \./$1\$" || fail "missing /$1"; }
expect_exec() { has "^-rwxr-xr-x .* \./$1\$" || fail "missing or not executable: /$1"; }

expect_exec usr/bin/appqv4App
expect_exec usr/bin/qv4-terminal-sim
expect_exec usr/bin/qv4-autostart
expect_file usr/share/applications/qv4-order-screen.desktop
expect_file usr/share/icons/hicolor/scalable/apps/qv4-order-screen.svg
expect_file usr/share/qv4-order-screen/autostart/qv4-order-screen.desktop
for example in full-sale qr-sale promo-rotation malformed; do
    expect_file "usr/share/qv4-order-screen/examples/$example.jsonl"
done
expect_file usr/share/qv4-order-screen/examples/images/logo.png
expect_file usr/share/doc/qv4-order-screen/README.md
for doc in protocol administration security limits diagnostics; do
    expect_file "usr/share/doc/qv4-order-screen/docs/$doc.md"
done
expect_file usr/share/doc/qv4-order-screen/copyright
# Opt-in only: nothing that starts the display for every user.
has '\./etc/xdg/autostart/' && fail "installs a system-wide autostart entry"
has '\./usr/lib/systemd/user/.*\.wants/' && fail "enables a systemd user unit"
# Nothing outside /usr but the administrator's settings, a conffile (so that
# dpkg keeps it on upgrade and apt can purge it), and no build leftovers.
grep -Ev ' \./((usr|etc|etc/default)(/.*)?|etc/default/qv4-order-screen)?$' "$work/contents.txt" | grep -q . &&
    fail "installs outside /usr and /etc/default/qv4-order-screen"
[[ $(dpkg-deb --ctrl-tarfile "$deb" | tar -xOf - ./conffiles) == /etc/default/qv4-order-screen ]] ||
    fail "conffiles is not just /etc/default/qv4-order-screen"
has '\.(cpp|h|o|a|cmake)$' && fail "ships build files"

# --- The unpacked tree works ----------------------------------------------
root="$work/root"
dpkg-deb -x "$deb" "$root"
if command -v desktop-file-validate >/dev/null; then
    for entry in "$root/usr/share/applications/qv4-order-screen.desktop" \
        "$root/usr/share/qv4-order-screen/autostart/qv4-order-screen.desktop"; do
        desktop-file-validate "$entry" || fail "invalid desktop entry $(basename "$entry")"
    done
fi
grep -qx 'Exec=/usr/libexec/qv4-order-screen/qv4-order-screen-kiosk' \
    "$root/usr/share/qv4-order-screen/autostart/qv4-order-screen.desktop" ||
    fail "the autostart entry does not run the launcher"
# Once the package is gone, desktops skip a copy left in a user's home.
grep -qx 'TryExec=/usr/libexec/qv4-order-screen/qv4-order-screen-kiosk' \
    "$root/usr/share/qv4-order-screen/autostart/qv4-order-screen.desktop" ||
    fail "the autostart entry lacks TryExec of the launcher"
readelf -S "$root/usr/bin/appqv4App" | grep -q '\.symtab' && fail "appqv4App is not stripped"
# The installed documents link only to what the package installs.
bash "$(dirname "${BASH_SOURCE[0]}")/../tests/check-docs.sh" --links "$root/usr/share/doc/qv4-order-screen" ||
    fail "the installed documents have dead links"

# The changelog's newest entry is this version; the copyright file is
# machine-readable and carries the font's licence.
[[ $(zcat "$root/usr/share/doc/qv4-order-screen/changelog.Debian.gz" | head -1) == \
    "qv4-order-screen ($(dpkg-deb -f "$deb" Version)) "* ]] || fail "changelog.Debian.gz does not start with this version"
copyright="$root/usr/share/doc/qv4-order-screen/copyright"
head -1 "$copyright" | grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    fail "copyright is not in the machine-readable format"
grep -q '^License: OFL-1.1$' "$copyright" && grep -q '^ SIL OPEN FONT LICENSE Version 1.1' "$copyright" ||
    fail "copyright lacks the font's licence text"

# lintian: no error and no warning (overrides say why where one is accepted); among
# them unstripped programs, and commands without a manual page or whose page man warns of.
# Of its informational tags, none about hardening: the display listens on the network.
lintian --allow-root -I "$deb" >"$work/lintian.txt" 2>&1 && ! grep -E '^[EW]: ' "$work/lintian.txt" ||
    fail "lintian: $(cat "$work/lintian.txt")"
if [[ "${QV4_HARDENED:-ON}" == ON ]]; then
    grep -E '^[EWI]: .*hardening-' "$work/lintian.txt" && fail "not hardened: $(grep -E 'hardening-' "$work/lintian.txt")"
    readelf -d "$root/usr/bin/appqv4App" | grep -q 'FLAGS.*BIND_NOW' || fail "appqv4App is not linked with -z now"
else
    echo "hardening not checked: this build type is built without it"
fi

# One version: the display's, the simulator's and the manual pages' agree, and
# the package's is its first two parts.
version=$("$root/usr/bin/appqv4App" --version)
[[ $version == "$(dpkg-deb -f "$deb" Version)-"* ]] ||
    fail "appqv4App --version says $version, the package is $(dpkg-deb -f "$deb" Version)"
[[ $("$root/usr/bin/qv4-terminal-sim" --version) == "qv4-terminal-sim $version" ]] ||
    fail "qv4-terminal-sim --version says $("$root/usr/bin/qv4-terminal-sim" --version), not $version"
for page in "$root"/usr/share/man/man1/*.1.gz; do
    zcat "$page" | head -1 | grep -qF "\"qv4-order-screen $version\"" || fail "$(basename "$page") is not of $version"
done

# Privacy by default: the per-message debug line (client names, bonus
# balances) is off where the package starts the display, and the file says
# how to turn it on.
grep -qx 'QT_LOGGING_RULES="default.debug=false"' "$root/etc/default/qv4-order-screen" ||
    fail "the settings do not turn the per-message debug line off"
grep -q '^#.*QT_LOGGING_RULES="default.debug=true"' "$root/etc/default/qv4-order-screen" ||
    fail "the settings do not say how to turn the debug line on"

# In a scratch dpkg database: remove keeps the conffile, so that purge finds
# the package, and purge leaves nothing behind.
admin="$work/dpkg" inst="$work/inst"
mkdir -p "$admin/updates" "$admin/info" "$inst" && touch "$admin/status"
scratch_dpkg() { dpkg --admindir="$admin" --instdir="$inst" --force-not-root --force-depends --log=/dev/null "$@"; }
state() { dpkg-query --admindir="$admin" -W -f='${db:Status-Status}' qv4-order-screen 2>/dev/null || echo absent; }
scratch_dpkg -i "$deb" >"$work/dpkg.log" 2>&1 && [[ -f $inst/usr/bin/appqv4App && $(state) == installed ]] ||
    fail "dpkg -i into a scratch root: $(cat "$work/dpkg.log")"
scratch_dpkg -r qv4-order-screen >>"$work/dpkg.log" 2>&1 && [[ $(state) == config-files &&
    -f $inst/etc/default/qv4-order-screen && ! -e $inst/usr/bin/appqv4App ]] ||
    fail "after remove: state $(state), settings kept and programs gone expected"
scratch_dpkg -P qv4-order-screen >>"$work/dpkg.log" 2>&1 && left=$(find "$inst" -mindepth 1 -not -type d) &&
    [[ -z $left && $(state) =~ ^(absent|not-installed)$ ]] || fail "after purge: state $(state), left: ${left:-}"

# The systemd user service parses (the container may have no systemd running).
service="$root/usr/lib/systemd/user/qv4-order-screen.service"
if command -v systemd-analyze >/dev/null; then
    mkdir -p -m 700 "$work/unit" && sed "s|/usr/bin/appqv4App|$root&|" "$service" >"$work/unit/${service##*/}"
    out=$(XDG_RUNTIME_DIR="$work/unit" systemd-analyze verify --man=no "$work/unit/${service##*/}" 2>&1) &&
        [[ -z $out ]] || fail "systemd-analyze verify: $out"
fi
for line in 'ExecStart=/usr/bin/appqv4App --use-fullscreen --settings /etc/default/qv4-order-screen' \
    'Restart=on-failure' 'Type=notify' 'WatchdogSec=30'; do
    grep -qxF "$line" "$service" || fail "the service lacks $line"
done

# qv4-autostart, with a stand-in systemctl whose user session runs
# graphical-session.target (systemd) or not (bare).
home="$work/home" fake="$work/fake-bin" entry="$work/home/.config/autostart/qv4-order-screen.desktop"
export FAKE_SYSTEMD="$work/fake-systemd"
mkdir -p "$home" "$fake" "$FAKE_SYSTEMD"
cat >"$fake/systemctl" <<'FAKE'
#!/bin/sh
# systemctl --user VERB [--quiet] UNIT, with the enabled state in a file.
case "$2" in
is-active) [ "$4" = graphical-session.target ] && [ -e "$FAKE_SYSTEMD/session" ] || { echo inactive; exit 3; } ;;
is-enabled) [ -e "$FAKE_SYSTEMD/enabled" ] ;;
enable) touch "$FAKE_SYSTEMD/enabled" ;;
disable) rm -f "$FAKE_SYSTEMD/enabled" ;;
*) exit 1 ;;
esac
FAKE
chmod +x "$fake/systemctl"
autostart() { HOME="$home" XDG_CONFIG_HOME='' PATH="$fake:$PATH" "$root/usr/bin/qv4-autostart" "$@"; }
while read -r session command expected_exit expected_state; do
    [[ $session == \#* ]] && continue
    rm -f "$FAKE_SYSTEMD/session" && [[ $session == bare ]] || touch "$FAKE_SYSTEMD/session"
    # shellcheck disable=SC2086 # the command is words
    autostart ${command//+/ } >"$work/autostart.out" 2>&1 && status=0 || status=$?
    now=$([[ ! -e $FAKE_SYSTEMD/enabled ]] || echo service)+$([[ ! -e $entry ]] || echo entry)
    [[ ! -e $entry ]] || cmp -s "$entry" "$root/usr/share/qv4-order-screen/autostart/qv4-order-screen.desktop" || now=bad-copy
    now=${now#+} now=${now%+} now=${now:-none}
    [[ $status == "$expected_exit" && $now == "$expected_state" ]] ||
        fail "qv4-autostart ${command//+/ } ($session session): exit $status, $now enabled; expected $expected_exit, $expected_state"
done <<'ROWS'
# session  command          exit  enabled afterwards
bare       status           1     none
bare       enable           0     entry
bare       status           0     entry
systemd    enable           0     service
systemd    status           0     service
systemd    enable+entry     0     entry
bare       enable+service   0     service
systemd    disable          0     none
bare       bogus            2     none
bare       disable+now      2     none
ROWS
autostart enable entry >/dev/null
grep -q 'QV4_OPTIONS="--scale fit"' <(autostart status) &&
    grep -qx 'check: options from .*/etc/default/qv4-order-screen: --scale fit' <(autostart status) ||
    fail "status does not show the settings in force"
autostart disable >/dev/null

# The settings, read and checked by the display itself when status or enable
# runs: a line it cannot read or an option it cannot use is named with the
# file, and the exit status is 3.
settings="$root/etc/default/qv4-order-screen"
cp "$settings" "$work/settings.packaged"
while IFS='|' read -r command line expected_exit expected_line; do
    [[ $command == \#* ]] && continue
    printf '%s\n' "$line" >"$settings"
    autostart "$command" >"$work/autostart.out" 2>&1 && status=0 || status=$?
    [[ $status == "$expected_exit" ]] && grep -qF "$expected_line" "$work/autostart.out" ||
        fail "qv4-autostart $command with the line '$line': exit $status; expected $expected_exit and" \
            "the line '$expected_line' in: $(cat "$work/autostart.out")"
    [[ -e $entry || -e $FAKE_SYSTEMD/enabled ]] && [[ $expected_exit == 3 ]] && fail "enabled despite bad options"
    autostart disable >/dev/null
done <<'ROWS'
# command|the settings line|exit|a line of the output
status|QV4_OPTIONS="--allow-terminal 192.168.1.0/28 --listen 127.0.0.1"|1|check: options OK: terminals from 192.168.1.0/28; listening on 127.0.0.1
enable|QV4_OPTIONS="--allow-terminal 192.168.1.20"|0|check: options OK: terminals from 192.168.1.20; listening on every interface
status|QV4_OPTIONS=--allow-terminal 192.168.1.20 --allow-terminal 127.0.0.1|1|check: options OK: terminals from 192.168.1.20, 127.0.0.1; listening
status|  QV4_OPTIONS = '--listen 127.0.0.1'  |1|/etc/default/qv4-order-screen: --listen 127.0.0.1
status|QV4_OPTIONS="--listen \"127.0.0.1\""|3|/etc/default/qv4-order-screen: QV4_OPTIONS: --listen ""127.0.0.1"": not an IPv4 or IPv6 address
status|# QV4_OPTIONS="--listen 127.0.0.1"|1|/etc/default/qv4-order-screen: (none)
status|QV4_OPTIONS=--listen 127.0.0.1 # here|3|/etc/default/qv4-order-screen: QV4_OPTIONS: Ignoring "#": not an option of this display
status|QV4_OPTIONS="--listen 127.0.0.1" # here|3|/etc/default/qv4-order-screen, line 1: text after the closing quote
enable|QV4_OPTIONS="--allow-terminal 192.168.1.20|3|/etc/default/qv4-order-screen, line 1: the quote " is not closed
status|QV4_OPTIONS "--allow-terminal 192.168.1.20"|3|/etc/default/qv4-order-screen, line 1: not VARIABLE=value
status|QV4_OPTIONS="--allow-terminal 192.168.1 --listen 127.0.0.1"|3|/etc/default/qv4-order-screen: QV4_OPTIONS: --allow-terminal "192.168.1": not an IPv4 or IPv6 address
enable|QV4_OPTIONS="--allow-terminal 192.168.1 --listen 127.0.0.1"|3|/etc/default/qv4-order-screen: QV4_OPTIONS: --allow-terminal "192.168.1": not an IPv4 or IPv6 address
status|QV4_OPTIONS="--fullscreen"|3|/etc/default/qv4-order-screen: QV4_OPTIONS: Ignoring "--fullscreen": not an option of this display
status|QV4_OPTIONS="--listen 127.0.0.1 --listen 127.0.0.2"|3|/etc/default/qv4-order-screen: QV4_OPTIONS: --listen given twice, as 127.0.0.1 and 127.0.0.2
ROWS
cp "$work/settings.packaged" "$settings"

# The launcher the autostart entry runs: the display reads the settings as
# under the service, a crash starts it again, a clean end does not.
launcher="$root/usr/libexec/qv4-order-screen/qv4-order-screen-kiosk"
mv "$root/usr/bin/appqv4App" "$work/appqv4App.real"
printf '#!/bin/sh\necho "$*" >>"%s"\n[ $(wc -l <"%s") -ge 2 ] || kill -SEGV $$\n' \
    "$work/launches" "$work/launches" >"$root/usr/bin/appqv4App"
chmod +x "$root/usr/bin/appqv4App"
"$launcher" 2>"$work/launcher.err" || fail "the launcher ended with $?"
expected="--use-fullscreen --settings $root/etc/default/qv4-order-screen"
[[ $(cat "$work/launches") == "$expected"$'\n'"$expected" ]] ||
    fail "launcher: expected two starts with '$expected', got: $(cat "$work/launches"); it said: $(cat "$work/launcher.err")"
grep -q 'started\|starting it again' "$work/launcher.err" || fail "the launcher did not say it restarts the display"

# A display that beats once and then stops (SIGSTOP) is killed and replaced
# within 45 s, with one line saying why; the second one ends cleanly.
printf '#!/bin/sh\necho $$ >>"%s"\n[ $(wc -l <"%s") -ge 2 ] && exit 0\ntouch "$QV4_HEARTBEAT_FILE"\nkill -STOP $$\n' \
    "$work/stopped" "$work/stopped" >"$root/usr/bin/appqv4App"
began=$(date +%s)
XDG_RUNTIME_DIR="$work" "$launcher" 2>"$work/launcher.err" || fail "the launcher ended with $? after a stopped display"
took=$(($(date +%s) - began))
stopped=$(head -1 "$work/stopped")
[[ $(wc -l <"$work/stopped") == 2 && $took -le 45 ]] && ! kill -0 "$stopped" 2>/dev/null ||
    fail "a stopped display: $(wc -l <"$work/stopped") starts in $took s, the first one $(kill -0 "$stopped" 2>/dev/null && echo 'still there')"
[[ $(wc -l <"$work/launcher.err") == 1 ]] && grep -q 'has not answered for 3[0-9] s' "$work/launcher.err" ||
    fail "a stopped display: not one line saying why: $(cat "$work/launcher.err")"
ls "$work"/qv4-order-screen.* >/dev/null 2>&1 && fail "the launcher left its heartbeat file"

# Stopped, the launcher stops the display it started and waits for it.
printf '#!/bin/sh\necho $$ >"%s"\nexec sleep 300\n' "$work/display.pid" >"$root/usr/bin/appqv4App"
rm -f "$work/display.pid"
"$root/usr/libexec/qv4-order-screen/qv4-order-screen-kiosk" 2>>"$work/launcher.err" &
launcher=$!
for _ in $(seq 50); do [[ -s $work/display.pid ]] && break; sleep 0.1; done
kill -TERM "$launcher"
wait "$launcher" && status=0 || status=$?
display=$(cat "$work/display.pid" 2>/dev/null || echo none)
if [[ $display == none ]] || kill -0 "$display" 2>/dev/null; then
    fail "SIGTERM to the launcher (exit $status) left the display ($display) running"
    [[ $display == none ]] || kill "$display"
fi
[[ $status == 143 ]] || fail "the launcher ended with $status after SIGTERM, not 143"
mv "$work/appqv4App.real" "$root/usr/bin/appqv4App"

for scenario in "$root"/usr/share/qv4-order-screen/examples/*.jsonl; do
    "$root/usr/bin/qv4-terminal-sim" --check "$scenario" >/dev/null 2>&1 || fail "packaged $(basename "$scenario") is refused"
done

if ((failures)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "package checks passed"
