#!/usr/bin/env bash
# Fuzzes the targets of tests/fuzz with libFuzzer, one after another.
#
#   scripts/fuzz.sh [seconds] [target...]
#
# seconds: time per target (default 60); targets: default all. Configures
# the checking tree build-san of scripts/checks.sh (clang, ASan/UBSan,
# coverage for the fuzzer) when it is not there yet and builds only the fuzz
# programs. Each target
# keeps a growing corpus in build-san/fuzz-corpus/<target>/ (the seed
# corpus in the source tree is only read); crashes and their inputs go to
# build-san/fuzz-artifacts/<target>/, the fuzzer's output to
# build-san/fuzz-logs/<target>.log; the targets run in
# build-san/fuzz-work/<target>/. A crash input, minimized
# (<program> -minimize_crash=1 -runs=10000 <input>), belongs in
# tests/fuzz/regress/<target>/ together with the fix.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${TORVANE_BUILD_DIR:-$root/build}-san"
seconds="${1:-60}"
[ $# -gt 0 ] && shift
case "$seconds" in ''|*[!0-9]*) echo "usage: $0 [seconds] [target...]" >&2; exit 2 ;; esac

all=()
for f in "$root"/tests/fuzz/fuzz_*.cpp; do
  all+=("$(basename "$f" .cpp)")
done
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all[@]}")
for t in "${targets[@]}"; do
  [ -f "$root/tests/fuzz/$t.cpp" ] || { echo "no fuzz target $t (have: ${all[*]})" >&2; exit 2; }
done

# clang, its libFuzzer runtime and the symbolizer come with the packages.
bash "$root/scripts/setup.sh"
if [ ! -f "$build/build.ninja" ]; then
  . "$root/scripts/checktree.sh"
  checktree_configure_san "$root" "$build"
fi
cmake --build "$build" -j2 --target "${targets[@]}"

mkdir -p "$build/fuzz-logs"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$root/tests/fuzz/lsan.supp}"
printf '%-24s %10s %8s %8s %8s %8s\n' target runs cov ft corpus crashes
status=0
for t in "${targets[@]}"; do
  corpus="$build/fuzz-corpus/$t"
  artifacts="$build/fuzz-artifacts/$t"
  log="$build/fuzz-logs/$t.log"
  # The protocol engines write their logs below the working directory.
  scratch="$build/fuzz-work/$t"
  # A target that crashes never removes its temporary folder: it gets one
  # here, removed after the run whatever the outcome.
  tmp="$scratch/tmp"
  rm -rf "$tmp"
  mkdir -p "$corpus" "$artifacts" "$scratch" "$tmp"
  rc=0
  (cd "$scratch" && TMPDIR="$tmp" exec "$build/bin/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$artifacts/" -print_final_stats=1 \
    "$corpus" "$root/tests/fuzz/corpus/$t") >"$log" 2>&1 || rc=$?
  rm -rf "$tmp"
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  last=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -1 || true)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  files=$(find "$corpus" -type f | wc -l)
  crashes=$(find "$artifacts" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
  printf '%-24s %10s %8s %8s %8s %8s\n' "$t" "${runs:-?}" "${cov:-?}" "${ft:-?}" "$files" "$crashes"
  if [ "$rc" -ne 0 ]; then
    echo "  $t stopped with $rc: see $log and $artifacts/" >&2
    status=1
  fi
done
exit $status
