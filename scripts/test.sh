#!/usr/bin/env bash
# Installs what is missing, builds everything in the normal build (the
# program as shipped: gcc, RelWithDebInfo, in build/) and runs the whole test
# suite there through ctest.
#
# CI runs this and then the checking builds of scripts/checks.sh (the suite
# under AddressSanitizer/UndefinedBehaviorSanitizer with short fuzz runs,
# and the threaded cores under ThreadSanitizer): see .ci/run.
# Usage: scripts/test.sh [extra ctest arguments]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bash "$here/scripts/setup.sh"
build=${TORVANE_BUILD_DIR:-$here/build}
jobs=${TORVANE_JOBS:-$(nproc)}
# A compiler cache, when the machine has one and TORVANE_CCACHE is not 0,
# makes a rebuild of unchanged sources quick; the build is the same without.
launcher=()
if [ "${TORVANE_CCACHE:-1}" != 0 ] && command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
start=$SECONDS
cmake --build "$build" -j "$jobs"
echo "test: the normal build took $((SECONDS - start)) s"
export QT_QPA_PLATFORM=offscreen
tests=$SECONDS
(cd "$build" && ctest --output-on-failure -j "$jobs" --timeout 300 "$@")
echo "test: the suite took $((SECONDS - tests)) s; build and tests $((SECONDS - start)) s"
