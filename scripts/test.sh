#!/usr/bin/env bash
# Installs what is missing, builds everything and runs all tests through ctest.
# Usage: scripts/test.sh [extra ctest arguments]
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
cd "$build"
ctest --output-on-failure -j "$jobs" --timeout 300 "$@"
