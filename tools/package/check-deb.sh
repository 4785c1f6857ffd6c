#!/usr/bin/env bash
# Builds the .deb, checks it with lintian, installs it into a fresh Debian 12 root made by
# mmdebstrap from Debian's own packages, and uses it there as a user would: the versions,
# a capture on the simulated board, its decoded UART, a render, the manual page and the
# shell completion. Needs root (for the chroot) and the Debian mirror; takes minutes.
#
# usage: tools/package/check-deb.sh [BUILD_DIR]     (default: build)
#   DEBIAN_MIRROR  where the root's packages come from (default http://deb.debian.org/debian)
#   KEEP_ROOT=1    keep the Debian root afterwards, and say where it is
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath -m "${1:-$source_dir/build}")
mirror=${DEBIAN_MIRROR:-http://deb.debian.org/debian}

step() { printf '\n== %s\n' "$*"; }
fail() {
    printf 'check-deb: %s\n' "$*" >&2
    exit 1
}

[ "$(id -u)" -eq 0 ] || fail "run it as root: the Debian root is entered with chroot"

# Tools only this check needs; the build's own come from scripts/install-deps.sh.
missing=()
for p in mmdebstrap lintian; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    step "installing ${missing[*]}"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

step "building the .deb in $build"
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
# What the package installs, not the tests and benchmarks.
cmake --build "$build" -j "$(nproc)" --target pulsara pulsara-cli pulsara_package_files
rm -f "$build"/pulsara_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/pulsara_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    fail "cpack wrote no single pulsara_*.deb in $build"
fi
deb=${debs[0]}
echo "$deb"
dpkg-deb --field "$deb" Package Version Depends Recommends

step "lintian"
report=$(lintian --pedantic --display-info "$deb" 2>&1 | grep -v 'running with root privileges' || true)
printf '%s\n' "${report:-(nothing to report)}"
if grep -q '^[EW]: ' <<<"$report"; then
    fail "lintian reports errors or warnings"
fi

work=$(mktemp -d /tmp/pulsara-check-deb.XXXXXX)
cleanup() {
    if [ -n "${KEEP_ROOT:-}" ]; then
        echo "check-deb: the Debian root is kept in $work/root"
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT
cp "$deb" "$work/"

# Run inside the root as a user without privileges, from an empty home.
cat >"$work/use-it.sh" <<'INSIDE'
set -eu
def=/usr/share/pulsara/sim-def.txt
run() { printf '$ %s\n' "$*"; "$@"; }
cd "$HOME"
run pulsara-cli --version
run pulsara-cli capture --board sim --sim-speed 0 --rate 10MHz --position CENTER --def "$def" -o sim.wfa
run pulsara-cli info --def "$def" sim.wfa | head -n 6
printf '$ pulsara-cli decode --def %s sim.wfa -P uart:rx=UART_TX:baudrate=115200 -A uart=rx-data\n' "$def"
decoded=$(pulsara-cli decode --def "$def" sim.wfa -P uart:rx=UART_TX:baudrate=115200 -A uart=rx-data)
printf '%s\n' "$decoded" | head -n 9
# The simulated board sends "pulsara\r\n": its bytes, in order, are the first nine.
bytes=$(printf '%s\n' "$decoded" | head -n 9 | awk '{ printf "%s ", $3 }')
[ "$bytes" = "70 75 6C 73 61 72 61 0D 0A " ] || { echo "decoded $bytes, not pulsara's bytes" >&2; exit 1; }
run pulsara-cli export sim.wfa --sr sim.sr
printf '$ sigrok-cli -i sim.sr -P uart:rx=UART_TX:baudrate=115200 -A uart=rx-data | head -n 3\n'
sigrok-cli -i sim.sr -P uart:rx=UART_TX:baudrate=115200 -A uart=rx-data | head -n 3
run pulsara-cli render sim.wfa -o sim.png
[ -s sim.png ] || { echo "render wrote no image" >&2; exit 1; }
printf '$ man pulsara-cli | head -n 12\n'
MANWIDTH=80 man pulsara-cli 2>man.err | head -n 12
warnings=$(MANWIDTH=80 man --warnings pulsara-cli 2>&1 >/dev/null)
[ -z "$warnings" ] || { echo "man --warnings pulsara-cli: $warnings" >&2; exit 1; }
MANWIDTH=80 man pulsara >/dev/null
printf '$ QT_QPA_PLATFORM=offscreen pulsara --version\n'
QT_QPA_PLATFORM=offscreen pulsara --version
printf '$ pulsara-cli capture --rate 1<TAB>\n'
completed=$(bash -c '. /usr/share/bash-completion/completions/pulsara-cli
    COMP_LINE="pulsara-cli capture --rate 1"; COMP_POINT=${#COMP_LINE}
    _pulsara_complete; echo "${COMPREPLY[*]}"')
echo "$completed"
case " $completed " in *" 10MHz "*) ;; *) echo "no rate completed" >&2; exit 1 ;; esac
INSIDE

step "a fresh Debian 12 root from $mirror, the .deb installed, used as a user"
# Recommends are installed, as apt does by default (mmdebstrap turns that off), so
# sigrok-cli comes with the package.
# udev is in the root but not running, as in a container: the install must not fail on it.
mmdebstrap --variant=apt --include=man-db,udev \
    --customize-hook='copy-in '"$work/$(basename "$deb") $work/use-it.sh"' /tmp' \
    --customize-hook='chroot "$1" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
        -o APT::Install-Recommends=true /tmp/'"$(basename "$deb")" \
    --customize-hook='chroot "$1" dpkg-query -W -f="\${Package} \${Version} \${Status}\n" pulsara sigrok-cli' \
    --customize-hook='chroot "$1" useradd --create-home user' \
    --customize-hook='chroot "$1" runuser -u user -- env -i HOME=/home/user PATH=/usr/bin:/bin LANG=C.UTF-8 sh /tmp/use-it.sh' \
    bookworm "$work/root" "$mirror"

step "check-deb: the package installs and works in a fresh Debian 12"
