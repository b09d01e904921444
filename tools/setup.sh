#!/usr/bin/env bash
# Installs the Debian packages the display needs (only those missing), then
# configures and builds into build/ (incremental).
# Usage: setup.sh [TARGET...]   (no target: everything, tests included)
# run.sh builds only the display and the simulator; test.sh builds the rest.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${QV4_BUILD_DIR:-$root/build}"

die() {
    echo "setup: $1" >&2
    echo "setup: to do it by hand: $2" >&2
    exit 1
}

# Installed, for this purpose, is any state in which the files are on disk and
# configured: "install ok installed", and also a package whose triggers are
# still pending or waiting while another apt or dpkg is at work.
installed() {
    local status
    status=$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null) || return 1
    case "$status" in
    *" ok installed" | *" ok triggers-pending" | *" ok triggers-awaited") return 0 ;;
    *) return 1 ;;
    esac
}

missing=()
while read -r pkg; do
    pkg="${pkg%%#*}"
    pkg="${pkg//[[:space:]]/}"
    [[ -z "$pkg" ]] && continue
    installed "$pkg" || missing+=("$pkg")
done <"$root/tools/apt-packages.txt"

if ((${#missing[@]})); then
    echo "setup: installing ${missing[*]}"
    sudo_cmd=()
    if [[ $(id -u) -ne 0 ]]; then
        command -v sudo >/dev/null ||
            die "these packages are missing and sudo is not installed" \
                "su -c 'apt-get update && apt-get install --no-install-recommends ${missing[*]}'"
        sudo_cmd=(sudo)
    fi
    export DEBIAN_FRONTEND=noninteractive
    # Another apt (unattended upgrades, a colleague) may hold the lock: wait
    # for it up to five minutes instead of failing at once.
    lock=(-o DPkg::Lock::Timeout=300)
    by_hand="sudo apt-get update && sudo apt-get install --no-install-recommends ${missing[*]}"
    "${sudo_cmd[@]}" apt-get "${lock[@]}" update -q ||
        die "apt-get update failed (see above)" "$by_hand"
    "${sudo_cmd[@]}" apt-get "${lock[@]}" install -y -q --no-install-recommends "${missing[@]}" ||
        die "installing the packages failed (see above)" "$by_hand"
fi
# The sanitizer and fuzz scripts want the packages, not this build.
[[ -n "${QV4_SETUP_PACKAGES_ONLY:-}" ]] && exit 0

if [[ ! -f "$build/build.ninja" ]]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ||
        die "configuring failed (see above)" \
            "cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo"
fi
# Ninja prints its progress ([n/total]) as it goes.
targets=()
(($#)) && targets=(--target "$@")
cmake --build "$build" "${targets[@]}" ||
    die "the build failed (see above)" "cmake --build build ${targets[*]}"
