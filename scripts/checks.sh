#!/usr/bin/env bash
# The checking builds, run by scripts/test.sh after the normal build:
#   san   clang with AddressSanitizer and UndefinedBehaviorSanitizer (and the
#         fuzzer's coverage), the whole test suite, then every fuzz target for
#         TORVANE_FUZZ_SECONDS (default 30) seconds;
#   tsan  clang with ThreadSanitizer, the link layer and plug-in tests
#         (LinkCore, RegMaster, BlockPump): the code with its own threads.
# Usage: scripts/checks.sh [san] [tsan]   (default: both)
# Build folders: build-san and build-tsan beside build (TORVANE_BUILD_DIR).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
base=${TORVANE_BUILD_DIR:-$here/build}
jobs=${TORVANE_JOBS:-$(nproc)}
stages=("$@")
[ ${#stages[@]} -eq 0 ] && stages=(san tsan)

launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# Light optimisation and line tables only: the checking builds are built
# from scratch on every CI run, and their reports still name file and line.
configure() {  # folder sanitizers extra-cmake-args...
  local dir=$1 sanitize=$2
  shift 2
  CC=clang CXX=clang++ cmake -S "$here" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_FLAGS="-O1 -gline-tables-only" -DCMAKE_CXX_FLAGS="-O1 -gline-tables-only" \
    -DTORVANE_SANITIZE="$sanitize" -DTORVANE_BUILD_BENCH=OFF "${launcher[@]}" "$@" >/dev/null
}

export QT_QPA_PLATFORM=offscreen
symbolizer=$(command -v llvm-symbolizer || ls /usr/bin/llvm-symbolizer-* 2>/dev/null | head -n1 || true)
[ -n "$symbolizer" ] && export ASAN_SYMBOLIZER_PATH=$symbolizer TSAN_SYMBOLIZER_PATH=$symbolizer
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:strict_string_checks=1:check_initialization_order=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$here/tests/tsan.supp}

for stage in "${stages[@]}"; do
  start=$SECONDS
  case $stage in
    san)
      dir=$base-san
      configure "$dir" address,undefined,fuzzer-no-link -DTORVANE_FUZZ=ON \
        -DTORVANE_FUZZ_SECONDS="${TORVANE_FUZZ_SECONDS:-30}"
      cmake --build "$dir" -j "$jobs"
      (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 600)
      ;;
    tsan)
      dir=$base-tsan
      configure "$dir" thread
      # Only the link layer's tests, and what they load.
      targets=$(cd "$dir" && ninja -t targets all | sed -n 's/^\([A-Za-z0-9_]*\(linkcore_[a-z_]*_test\|test_regmaster_[a-z_]*\|test_blockpump_[a-z_]*\|test_two_plugins\|test_clock_jump\|LinkCoreTest[A-Za-z]*\)\): phony$/\1/p' | sort -u)
      cmake --build "$dir" -j "$jobs" --target $targets
      (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 600 -L 'linkcore|regmaster|blockpump')
      ;;
    *) echo "checks: unknown stage '$stage' (san, tsan)" >&2; exit 2 ;;
  esac
  echo "checks: $stage passed in $((SECONDS - start)) s"
done
