#!/usr/bin/env bash
# Soak: 1000 capture cycles (or $1) on the simulated board in one process, with the
# resident memory printed every 100 cycles; fails when it grows by more than 1 MiB after
# the first 100 cycles, or a cycle does not complete.
#   tools/soak/soak.sh [cycles] [build dir, default build-rel]
set -euo pipefail
cd "$(dirname "$0")/../.."
cycles=${1:-1000}
build=${2:-build-rel}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target pulsara-soak
"$build/tools/soak/pulsara-soak" "$cycles" --fail-growth-kib 1024
