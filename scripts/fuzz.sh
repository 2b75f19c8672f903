#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) in build-fuzz/ and runs each for a while.
#   bash scripts/fuzz.sh [seconds-per-target] [target...]
# A crash leaves its input as build-fuzz/crash-* and stops the run. Inputs
# worth keeping go to fuzz/seeds/<target>/: the sanitizer build of
# scripts/test.sh runs every seed once as a test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
if ! command -v clang++ >/dev/null; then
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq && $SUDO apt-get install -y -qq --no-install-recommends clang libclang-rt-14-dev
fi
seconds="${1:-60}"; shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || mapfile -t targets < <(basename -s .cpp fuzz/fuzz_*.cpp)
[ -f build-fuzz/build.ninja ] || CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DTOLVA_FUZZ=ON \
  -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build-fuzz -j"$(nproc)" "${targets[@]}"
for t in "${targets[@]}"; do
  mkdir -p "build-fuzz/corpus/$t"
  dict=()
  case "$t" in fuzz_arx_*) dict=(-dict=fuzz/arx.dict) ;; esac
  echo "== $t for ${seconds}s"
  if ! ASAN_OPTIONS=detect_leaks=0 "build-fuzz/$t" "${dict[@]}" -max_total_time="$seconds" -max_len=4096 \
      -artifact_prefix=build-fuzz/ "build-fuzz/corpus/$t" $( [ -d "fuzz/seeds/$t" ] && echo "fuzz/seeds/$t") \
      > "build-fuzz/$t.log" 2>&1; then
    grep -E 'ERROR|SUMMARY|Test unit written' "build-fuzz/$t.log" || tail -20 "build-fuzz/$t.log"
    exit 1
  fi
  grep -E '^Done' "build-fuzz/$t.log"
done
