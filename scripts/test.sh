#!/usr/bin/env bash
# Installs what is missing, checks the formatting, then builds and tests
# three ways:
#   1. Release: every test, as users get the program;
#   2. AddressSanitizer + UndefinedBehaviorSanitizer, without the SIMD
#      kernels: every test again, so a read outside an image or array, a leak
#      or undefined arithmetic fails, and the portable path is tested;
#   3. clang's libFuzzer: a smoke run of each fuzz target on its seed corpus.
# Build folders: build-test, build-asan, build-fuzz beside the sources.
# QOVA_FUZZ_SECONDS sets the length of each smoke run (default 5).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
export QT_QPA_PLATFORM=offscreen

stage() { printf '\n=== %s (%s)\n' "$1" "$(date -u +%H:%M:%S)"; }

stage "Formatting"
# Every tracked C++ source as .clang-format lays it out.
(cd "$top" && git ls-files -- '*.cpp' '*.h' | xargs clang-format --dry-run -Werror)

stage "Release build and tests"
build="$top/build-test"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure -j2

stage "Sanitizer build and tests"
# -O1 keeps the build and the run quick while the sanitizers still see
# every access; assertions stay on. The SIMD kernels are off here, so the
# portable path is built and tested on every run.
asan="$top/build-asan"
cmake -S "$top" -B "$asan" -G Ninja -DQOVA_SANITIZE=ON -DQOVA_SIMD=OFF -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS_RELEASE="-O1 -g1" >/dev/null
cmake --build "$asan"
# Leak checking stays on: the suite runs clean without suppressions.
export ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir "$asan" --output-on-failure -j2

stage "Fuzz build and smoke runs"
fuzz="$top/build-fuzz"
CC=clang CXX=clang++ cmake -S "$top" -B "$fuzz" -G Ninja -DQOVA_FUZZ=ON \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQOVA_FUZZ_SECONDS="${QOVA_FUZZ_SECONDS:-5}" >/dev/null
cmake --build "$fuzz" --target fuzzers
# Only the smoke runs: the unit tests have run above.
ctest --test-dir "$fuzz" --output-on-failure -j2 -R "^fuzz/"
stage "All passed"
