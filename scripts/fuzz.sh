#!/usr/bin/env bash
# Builds the fuzz targets with clang under AddressSanitizer and UndefinedBehaviorSanitizer
# into build-fuzz/, runs the codec unit tests built the same way, then runs each fuzz
# target for the given number of seconds (default 30) over its committed seed corpus.
#
#   scripts/fuzz.sh [seconds] [target...]
#
# Every directory tests/fuzz/corpus/<target>/ names a target; without names, all run.
# New inputs go to a scratch corpus under the build tree; the committed seeds are only
# read. A crash leaves its input in build-fuzz/fuzz-artifacts/<target>/ and fails the
# script. Set NIMBREL_FUZZ_BUILD_DIR to build elsewhere, NIMBREL_JOBS for parallelism.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="${NIMBREL_FUZZ_BUILD_DIR:-$root/build-fuzz}"
jobs="${NIMBREL_JOBS:-$(nproc)}"
seconds="${1:-30}"
shift || true

targets=("$@")
if ((${#targets[@]} == 0)); then
  for corpus in "$root"/tests/fuzz/corpus/*/; do
    targets+=("$(basename "$corpus")")
  done
fi
# Unit tests of the code the targets cover, run under the same sanitizers.
unit_tests=(metadata/metadata_tests il/il_tests)

# A sanitizer report is a failure, not a warning to continue past.
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"

mkdir -p "$build_dir"
cmake -S "$root" -B "$build_dir" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DNIMBREL_FUZZ=ON -DNIMBREL_BUILD_MANAGED=OFF >"$build_dir/configure.log" 2>&1 ||
  { cat "$build_dir/configure.log"; exit 1; }
cmake --build "$build_dir" -j "$jobs" --target "${targets[@]}" "${unit_tests[@]##*/}"

for test in "${unit_tests[@]}"; do
  echo "== ${test##*/} under AddressSanitizer and UndefinedBehaviorSanitizer"
  "$build_dir/tests/unit/$test" --gtest_brief=1
done

for target in "${targets[@]}"; do
  seeds="$root/tests/fuzz/corpus/$target"
  work="$build_dir/fuzz-corpus/$target"
  artifacts="$build_dir/fuzz-artifacts/$target"
  log="$build_dir/fuzz-logs/$target.log"
  mkdir -p "$work" "$artifacts" "$(dirname "$log")"
  echo "== $target for ${seconds}s over $(find "$seeds" -type f | wc -l) seeds"
  if ! "$build_dir/tests/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$artifacts/" "$work" "$seeds" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzz: $target failed; the input is in $artifacts/ and the log in $log" >&2
    exit 1
  fi
  grep -E '^#[0-9]+[[:space:]]+DONE|^stat::number_of_executed_units|^Done ' "$log" || tail -n 3 "$log"
done
