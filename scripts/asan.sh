#!/usr/bin/env bash
# The whole test suite again, built with AddressSanitizer and
# UndefinedBehaviorSanitizer in build-asan/ (after the normal build passed):
# a memory error, a leak or undefined behaviour fails the test that shows it.
# The fuzz targets run once over their seeds (fuzz/seeds/) as tests fuzz.*.
#   bash scripts/asan.sh [ctest arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
[ -f build-asan/build.ninja ] || cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTOLVA_SANITIZE=ON "${launcher[@]}" >/dev/null
ninja -C build-asan -j"$(nproc)"
# Leaks are reported at exit; only leaks inside Qt and system libraries are
# suppressed (scripts/lsan.supp), never the program's own.
export ASAN_OPTIONS="detect_leaks=1:check_initialization_order=1:strict_init_order=1:detect_stack_use_after_return=0:abort_on_error=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
cd build-asan
ctest --output-on-failure --no-tests=error -j2 "$@"
