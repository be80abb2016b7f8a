#!/usr/bin/env bash
# Builds the cue fuzzer with clang in build-fuzz/ and runs it for the given
# number of seconds (default 60) in this one process (no -jobs: that would
# move the run into child processes). Exits non-zero on a finding;
# the input that caused it is left in build-fuzz/fuzz-artifacts/.
# Extra arguments go to libFuzzer, e.g. tools/fuzz.sh 600 -runs=10000000.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
build=$root/build-fuzz

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
      -DCUEVOX_FUZZ=ON -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
cmake --build "$build" --target fuzz_cue -j1

# The corpus grows in the build directory; the scripts under tests/data seed it.
corpus=$build/fuzz-corpus
artifacts=$build/fuzz-artifacts
mkdir -p "$corpus" "$artifacts"
cp -n "$root"/tests/data/* "$corpus"/

# A small quarantine keeps freed memory hot: a third faster here, and inputs
# are small enough that a block used after its free is still caught.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:quarantine_size_mb=16}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tools/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=offscreen
exec "$build/tests/fuzz/fuzz_cue" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
     -print_final_stats=1 -dict="$root/tests/fuzz/cue.dict" \
     -artifact_prefix="$artifacts/" "$@" "$corpus"
