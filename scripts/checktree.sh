# Sourced by checks.sh and fuzz.sh: the clang checking trees, configured one
# way, so that the fuzz programs of fuzz.sh come from the same build-san tree
# the checks build.
#
# Light optimisation and line tables only: the checking builds are built
# from scratch on every CI run, and their reports still name file and line.
checktree_configure() {  # source folder sanitizers [extra cmake args...]
  local src=$1 dir=$2 sanitize=$3
  shift 3
  local launcher=()
  if [ "${TORVANE_CCACHE:-1}" != 0 ] && command -v ccache >/dev/null 2>&1; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  fi
  CC=clang CXX=clang++ cmake -S "$src" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_C_FLAGS="-O1 -gline-tables-only" -DCMAKE_CXX_FLAGS="-O1 -gline-tables-only" \
    -DTORVANE_SANITIZE="$sanitize" -DTORVANE_BUILD_BENCH=OFF "${launcher[@]}" "$@" >/dev/null
}

# The AddressSanitizer/UndefinedBehaviorSanitizer tree, with the fuzzer's
# coverage and the libFuzzer programs.
checktree_configure_san() {  # source folder [extra cmake args...]
  local src=$1 dir=$2
  shift 2
  checktree_configure "$src" "$dir" address,undefined,fuzzer-no-link -DTORVANE_FUZZ=ON "$@"
}
