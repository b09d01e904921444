#!/usr/bin/env bash
# Builds the Debian package from a build folder and checks what it installs,
# what it declares it depends on, and that the autostart switch works from the
# unpacked tree.
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
# Every library the two programs link must come with a declared package.
for lib in libqt6core6 libqt6gui6 libqt6network6 libqt6qml6 libqt6websockets6 libzxing2; do
    [[ -n ${declared[$lib]:-} ]] || fail "Depends lacks $lib"
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
expect_file usr/share/doc/qv4-order-screen/protocol.md
expect_file usr/share/doc/qv4-order-screen/copyright
# Opt-in only: nothing that starts the display for every user.
has '\./etc/xdg/autostart/' && fail "installs a system-wide autostart entry"
has '\./usr/lib/systemd/user/.*\.wants/' && fail "enables a systemd user unit"
# Nothing outside /usr, and no build leftovers.
grep -Ev ' \./(usr(/.*)?)?$' "$work/contents.txt" | grep -q . && fail "installs outside /usr"
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
grep -qx 'Exec=appqv4App --use-fullscreen' "$root/usr/share/qv4-order-screen/autostart/qv4-order-screen.desktop" ||
    fail "the autostart entry does not start the display full screen"
readelf -S "$root/usr/bin/appqv4App" | grep -q '\.symtab' && fail "appqv4App is not stripped"

home="$work/home"
mkdir -p "$home"
autostart() { HOME="$home" XDG_CONFIG_HOME= "$root/usr/bin/qv4-autostart" "$@"; }
autostart status >/dev/null && fail "autostart is on before it was enabled"
autostart enable >/dev/null || fail "qv4-autostart enable"
cmp -s "$home/.config/autostart/qv4-order-screen.desktop" \
    "$root/usr/share/qv4-order-screen/autostart/qv4-order-screen.desktop" || fail "enable did not install the entry"
autostart status >/dev/null || fail "status after enable"
autostart disable >/dev/null || fail "qv4-autostart disable"
[[ ! -e $home/.config/autostart/qv4-order-screen.desktop ]] || fail "disable left the entry"
autostart bogus 2>/dev/null && fail "qv4-autostart accepts a bogus command"

for scenario in "$root"/usr/share/qv4-order-screen/examples/*.jsonl; do
    "$root/usr/bin/qv4-terminal-sim" --check "$scenario" >/dev/null 2>&1 || fail "packaged $(basename "$scenario") is refused"
done

if ((failures)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "package checks passed"
