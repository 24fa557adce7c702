#!/usr/bin/env bash
# Fuzzes the targets of tests/fuzz with libFuzzer, one after another.
#
#   scripts/fuzz.sh [seconds] [target...]
#
# seconds: time per target (default 60); targets: default all. Configures
# and builds the checking tree build-fuzz (clang, ASan/UBSan, coverage for
# the fuzzer) when needed and builds only the fuzz programs. Each target
# keeps a growing corpus in build-fuzz/fuzz-corpus/<target>/ (the seed
# corpus in the source tree is only read); crashes and their inputs go to
# build-fuzz/fuzz-artifacts/<target>/, the fuzzer's output to
# build-fuzz/fuzz-logs/<target>.log; the targets run in
# build-fuzz/fuzz-work/<target>/. A crash input, minimized
# (<program> -minimize_crash=1 -runs=10000 <input>), belongs in
# tests/fuzz/regress/<target>/ together with the fix.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"
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

# clang and its libFuzzer runtime.
if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  echo "fuzz: installing clang libclang-rt-14-dev"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev
fi

if [ ! -f "$build/build.ninja" ]; then
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="-O1 -g1" -DCMAKE_C_FLAGS="-O1 -g1" \
    -DTORVANE_SANITIZE=address,undefined,fuzzer-no-link -DTORVANE_FUZZ=ON "${launcher[@]}"
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
  mkdir -p "$corpus" "$artifacts" "$scratch"
  rc=0
  (cd "$scratch" && exec "$build/bin/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$artifacts/" -print_final_stats=1 \
    "$corpus" "$root/tests/fuzz/corpus/$t") >"$log" 2>&1 || rc=$?
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
