#!/usr/bin/env bash
# Installs what is missing, builds everything and runs all tests through ctest.
#
# By default the whole suite runs once, in the checking build of
# scripts/checks.sh (clang with AddressSanitizer and UndefinedBehaviorSanitizer),
# followed by a short run of every fuzz target and the link and plug-in tests
# under ThreadSanitizer; the program as shipped (the normal build in build/:
# program, libraries, plug-ins, tools and data) is built first, so that its
# build is checked too. Running the suite a second time in the normal build
# would not fit the CI time budget on two cores.
#
# TORVANE_CHECKS=0 runs the whole suite in the normal build instead (no
# sanitizers, no fuzzing).
# Usage: scripts/test.sh [extra ctest arguments for the suite run]
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
start=$SECONDS
if [ "${TORVANE_CHECKS:-1}" != 0 ]; then
  cmake --build "$build" -j "$jobs" --target Torvane torvane-cli drivesim TorvaneProgramTree
  echo "test: the program's normal build took $((SECONDS - start)) s"
  exec bash "$here/scripts/checks.sh" san tsan -- "$@"
fi
cmake --build "$build" -j "$jobs"
export QT_QPA_PLATFORM=offscreen
(cd "$build" && ctest --output-on-failure -j "$jobs" --timeout 300 "$@")
echo "test: build and tests took $((SECONDS - start)) s"
