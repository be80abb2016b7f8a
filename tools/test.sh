#!/usr/bin/env bash
# Installs what the tests need, builds Cuevox twice (warnings as errors; and
# with AddressSanitizer + UndefinedBehaviorSanitizer), starts Xvfb, PulseAudio
# and speech-dispatcher and runs every test under the sanitizers with CTest.
# Before the tests it fuzzes the cue reader for a minute; after them, a minute
# of soak on the optimised build checks every cue is heard once, in order, with
# flat memory.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

"$root/tools/install-deps.sh" packages.txt test-packages.txt

cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
      -DBUILD_TESTING=ON
cmake --build "$root/build" -j"$jobs"
cmake -S "$root" -B "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DCUEVOX_SANITIZE=ON \
      -DCMAKE_COMPILE_WARNING_AS_ERROR=ON
cmake --build "$root/build-asan" -j"$jobs"

# The cue units in the optimised build as well: one of them makes allocations
# fail, which the sanitizer build cannot survive.
ctest --test-dir "$root/build" -R '^tst_cue' --output-on-failure

# A minute of fuzzing the cue reader (clang, libFuzzer, ASan + UBSan).
"$root/tools/fuzz.sh" 60

state=$(mktemp -d /tmp/cuevox-services.XXXXXX)
trap '"$root/tools/services.sh" stop "$state"; rm -rf "$state"' EXIT
"$root/tools/services.sh" start "$state"
# shellcheck disable=SC1091
source "$state/env"

export ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0
export LSAN_OPTIONS=suppressions=$root/tools/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$root/build-asan" --output-on-failure --timeout 600

CUEVOX_BUILD=$root/build bash "$root/bench/soak.sh" 1
