#!/usr/bin/env bash
# Installs what is missing, builds everything and runs all tests through ctest,
# then the checking builds (scripts/checks.sh): the whole suite under
# AddressSanitizer and UndefinedBehaviorSanitizer with a short run of every
# fuzz target, and the link and plug-in tests under ThreadSanitizer.
# Usage: scripts/test.sh [extra ctest arguments]
# TORVANE_CHECKS=0 leaves the checking builds out (a quick local run); extra
# ctest arguments apply to the normal build only.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bash "$here/scripts/setup.sh"
build=${TORVANE_BUILD_DIR:-$here/build}
jobs=${TORVANE_JOBS:-$(nproc)}
# A compiler cache, when the machine has one, makes a rebuild of unchanged
# sources quick; the build is the same without it.
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$jobs"
export QT_QPA_PLATFORM=offscreen
start=$SECONDS
(cd "$build" && ctest --output-on-failure -j "$jobs" --timeout 300 "$@")
echo "test: normal build's tests passed in $((SECONDS - start)) s"
if [ "${TORVANE_CHECKS:-1}" != 0 ]; then
  bash "$here/scripts/checks.sh"
fi
