#!/usr/bin/env bash
# Installs what is needed, then builds and runs every test in three builds:
# host (optimised, assertions on), host with ASan+UBSan, and the PowerPC
# cross-build under qemu-ppc. Then replays and briefly runs the fuzz targets.
# A clang-format or clang-tidy finding in our own sources, or an include that
# breaks the order of layers, fails the run too.
# QUELVAD_FUZZ_SECONDS sets the fuzzing time per target (0 skips fuzzing);
# QUELVAD_BUILD_DIR (default "build") holds the build trees.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)
build_dir=${QUELVAD_BUILD_DIR:-build}
fuzz_seconds=${QUELVAD_FUZZ_SECONDS:-45}
export CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/ccache}
export CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-5G}
# Paths below the checkout are hashed relative to it, and the debug build's
# working directory is left out of the hash, so that another clone of the
# project (a fresh one, a work tree) finds what this one compiled.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$(pwd)}
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}
summary=()
total_passed=0
total_failed=0

run_build() {
  local name=$1; shift
  echo "=== build: $name"
  cmake -G Ninja -S . -B "$build_dir/$name" "$@" > "$build_dir/$name.cmake.log" 2>&1 || { cat "$build_dir/$name.cmake.log"; return 1; }
  rm -f "$build_dir/$name.cmake.log"
  cmake --build "$build_dir/$name" -j "$jobs"
}

run_tests() {
  local name=$1
  echo "=== tests: $name"
  local log="$build_dir/$name/ctest.log" rc=0
  (cd "$build_dir/$name" && ctest --output-on-failure -j "$jobs" --timeout 600) 2>&1 | tee "$log" || rc=$?
  local line passed failed
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1 || true)
  if [ -n "$line" ]; then
    failed=$(sed -E 's/.*passed, ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.*failed out of ([0-9]+).*/\1/' <<<"$line")
    passed=$((total - failed))
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + failed))
    summary+=("$name: $passed passed, $failed failed")
  fi
  return $rc
}

mkdir -p "$build_dir"
status=0
style=0
echo "=== style: clang-format"
bash scripts/check-style.sh format || style=1
echo "=== style: layers"
bash scripts/check-layers.sh || style=1
run_build host -DCMAKE_BUILD_TYPE=Release -DQUELVAD_TESTS=ON
echo "=== style: clang-tidy"
bash scripts/check-style.sh tidy "$build_dir/host" || style=1
[ "$style" -eq 0 ] || status=1
summary+=("style: $([ "$style" -eq 0 ] && echo clean || echo FINDINGS)")
run_tests host || status=1
run_build asan -DCMAKE_BUILD_TYPE=Debug -DQUELVAD_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_tests asan || status=1
run_build ppc -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/powerpc-linux-gnu.cmake
run_tests ppc || status=1

if [ "$fuzz_seconds" != 0 ] && grep -q '^quelvad_add_fuzzer' tests/fuzz/CMakeLists.txt; then
  run_build fuzz -DCMAKE_BUILD_TYPE=Release -DQUELVAD_FUZZ=ON -DQUELVAD_SANITIZE=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
  echo "=== fuzz: ${fuzz_seconds}s per target"
  pids=()
  for bin in $build_dir/fuzz/tests/fuzz/fuzz_*; do
    target=${bin##*/fuzz_}
    work="$build_dir/fuzz/corpus-$target"
    mkdir -p "$work"
    "$bin" -max_total_time="$fuzz_seconds" -max_len=4096 -print_final_stats=1 \
      "$work" "tests/fuzz/corpus/$target" > "$build_dir/fuzz/$target.log" 2>&1 &
    pids+=("$!:$target")
  done
  fuzz_failed=0
  for entry in "${pids[@]}"; do
    if wait "${entry%%:*}"; then
      echo "fuzz ${entry#*:}: clean"
    else
      echo "fuzz ${entry#*:}: FAILED"; tail -n 60 "$build_dir/fuzz/${entry#*:}.log"; fuzz_failed=$((fuzz_failed + 1)); status=1
    fi
  done
  summary+=("fuzz: $((${#pids[@]} - fuzz_failed)) passed, $fuzz_failed failed")
  total_passed=$((total_passed + ${#pids[@]} - fuzz_failed))
  total_failed=$((total_failed + fuzz_failed))
fi

echo "=== summary"
printf '%s\n' "${summary[@]}"
echo "all: $total_passed passed, $total_failed failed"
exit $status
