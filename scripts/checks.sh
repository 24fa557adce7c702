#!/usr/bin/env bash
# The checking builds, run by CI (.ci/run) after scripts/test.sh:
#   san   clang with AddressSanitizer and UndefinedBehaviorSanitizer (and the
#         fuzzer's coverage), the whole test suite, then every fuzz target for
#         TORVANE_FUZZ_SECONDS (default 15) seconds, one worker per core;
#   tsan  clang with ThreadSanitizer: the code with threads of its own that
#         runs without Qt (Qt is not built with the sanitizer): the link
#         layer and plug-in tests (LinkCore, RegMaster, BlockPump) and the
#         tests labelled "threads" (the device link and its batches, the
#         sample store with its writer thread, the download sequence, and the
#         fault matrix with the real-time sampler).
# Usage: scripts/checks.sh [san] [tsan] [-- extra ctest arguments for san's suite run]
# (default: both). Build folders: build-san and build-tsan beside build
# (TORVANE_BUILD_DIR).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
base=${TORVANE_BUILD_DIR:-$here/build}
jobs=${TORVANE_JOBS:-$(nproc)}
stages=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do stages+=("$1"); shift; done
[ $# -gt 0 ] && shift
ctest_args=("$@")
[ ${#stages[@]} -eq 0 ] && stages=(san tsan)

. "$here/scripts/checktree.sh"

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
      checktree_configure_san "$here" "$dir" -DTORVANE_FUZZ_SECONDS="${TORVANE_FUZZ_SECONDS:-15}"
      cmake --build "$dir" -j "$jobs"
      (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 600 "${ctest_args[@]}")
      ;;
    tsan)
      dir=$base-tsan
      checktree_configure "$here" "$dir" thread
      # Only the tests of those cores, and what they load.
      targets=$(cd "$dir" && ninja -t targets all | sed -n 's/^\([A-Za-z0-9_]*\(linkcore_[a-z_]*_test\|test_regmaster_[a-z_]*\|test_blockpump_[a-z_]*\|test_two_plugins\|test_clock_jump\|LinkCoreTest[A-Za-z]*\|test_link_core\|test_monitor_store\|test_download_core\|test_fault_matrix\)\): phony$/\1/p' | sort -u)
      cmake --build "$dir" -j "$jobs" --target $targets
      (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 600 -L 'linkcore|regmaster|blockpump|threads')
      ;;
    *) echo "checks: unknown stage '$stage' (san, tsan)" >&2; exit 2 ;;
  esac
  echo "checks: $stage passed in $((SECONDS - start)) s"
done
