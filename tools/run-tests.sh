#!/bin/bash
# The test command: installs what is missing, builds the shipped i686
# program and the x86_64 test build, and runs every test under Wine with its
# own prefix, wineserver and X display. Stops everything it started on any
# exit. Extra arguments go to ctest (for example -R workarea); KAVO_BUILD_DIR
# chooses the build tree (default: build/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${KAVO_BUILD_DIR:-$root/build}
jobs=$(nproc)

bash "$root/tools/install-deps.sh"

cmake -S "$root" -B "$build/i686" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-i686.cmake" >/dev/null
# KAVO_BUILD_TARGETS (space-separated x86_64 targets) limits what is built,
# for a quick look at one part, and skips the i686 build; the default builds
# everything.
targets=()
for t in ${KAVO_BUILD_TARGETS:-}; do targets+=(--target "$t"); done
if [[ -z ${KAVO_BUILD_TARGETS:-} ]]; then
  cmake --build "$build/i686" -j "$jobs"
fi
cmake -S "$root" -B "$build/x86_64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64.cmake" \
  -DKAVO_I686_BUILD_DIR="$build/i686" >/dev/null
cmake --build "$build/x86_64" -j "$jobs" "${targets[@]}"

source "$root/tools/wine-session.sh"
wine_session_start "$build/x86_64/wineprefix"
trap wine_session_stop EXIT
trap 'exit 130' INT TERM

ctest --test-dir "$build/x86_64" --output-on-failure "$@"
