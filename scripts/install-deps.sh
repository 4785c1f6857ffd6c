#!/usr/bin/env bash
# Installs the Debian packages pulsara needs to build, test and run.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
  # build and test
  cmake ninja-build g++ make pkgconf
  libgtest-dev libgmock-dev libbenchmark-dev
  # fuzzing: clang with libFuzzer and the sanitizer runtimes
  clang libclang-rt-14-dev
  # the real-board path under test: an emulated usbfs for the system libusb
  umockdev libumockdev-dev
  # libraries
  nlohmann-json3-dev libcli11-dev libssl-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libusb-1.0-0-dev
  # capture exchange: the .sr archive, and the peer tools that check VCD and .sr output
  libzip-dev sigrok-cli gtkwave
  # protocol decoding: libsigrokdecode and its decoders (libsigrokdecode4)
  libsigrokdecode-dev
  # firmware toolchain and the reference 8051 simulator
  sdcc sdcc-ucsim srecord
  # headless GUI and fonts: the view font and the Japanese labels
  xvfb xauth fonts-dejavu-core fonts-ipafont-gothic
  # the on-screen tests: real input events and the screen's own pixels
  xdotool imagemagick openbox
  # installing: the desktop entry's check, and the .deb (dpkg-shlibdeps finds its dependencies)
  desktop-file-utils dpkg-dev file binutils
  # manual pages made from the programs' help, and the checks of them and of the metainfo
  help2man man-db groff-base appstream
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "install-deps: installing ${missing[*]}" >&2
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
