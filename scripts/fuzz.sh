#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) in build-fuzz/ and runs each, one at a time,
# at low priority (nice), for a time or a number of executions.
#   bash scripts/fuzz.sh [seconds-per-target] [target...]
#   bash scripts/fuzz.sh --runs 10000000 [target...]      executions per target
#   bash scripts/fuzz.sh --seconds 300 [target...]        time per target
# Both options together: whichever comes first. Each target's last line
# gives its executions, coverage (cov: edges, ft: features) and corpus.
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
# A fixed zone: without TZ the C library looks at /etc/localtime on every
# local-time conversion, which took half of a page target's time.
export TZ=UTC
seconds=""; runs=""
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --seconds) seconds="$2"; shift 2 ;;
    [0-9]*) seconds="$1"; shift ;;
    *) break ;;
  esac
done
[ -n "$seconds" ] || [ -n "$runs" ] || seconds=60
limits=()
[ -n "$seconds" ] && limits+=(-max_total_time="$seconds")
[ -n "$runs" ] && limits+=(-runs="$runs")
targets=("$@")
[ ${#targets[@]} -gt 0 ] || mapfile -t targets < <(basename -s .cpp fuzz/fuzz_*.cpp)
[ -f build-fuzz/build.ninja ] || CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DTOLVA_FUZZ=ON \
  -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
nice ninja -C build-fuzz -j"$(nproc)" "${targets[@]}"
for t in "${targets[@]}"; do
  mkdir -p "build-fuzz/corpus/$t"
  dict=()
  case "$t" in fuzz_arx_*) dict=(-dict=fuzz/arx.dict) ;; esac
  echo "== $t (${seconds:+${seconds}s}${seconds:+${runs:+ or }}${runs:+$runs runs})"
  # No allocation stacks: recording one per allocation took a fifth of a
  # page target's time. To see them for a finding, run its input again:
  #   build-fuzz/<target> build-fuzz/crash-...
  if ! ASAN_OPTIONS=detect_leaks=0:malloc_context_size=0 nice "build-fuzz/$t" "${dict[@]}" "${limits[@]}" -max_len=4096 \
      -print_final_stats=1 -artifact_prefix=build-fuzz/ "build-fuzz/corpus/$t" \
      $( [ -d "fuzz/seeds/$t" ] && echo "fuzz/seeds/$t") > "build-fuzz/$t.log" 2>&1; then
    grep -E 'ERROR|SUMMARY|Test unit written' "build-fuzz/$t.log" || tail -20 "build-fuzz/$t.log"
    exit 1
  fi
  grep -E '^#[0-9]+' "build-fuzz/$t.log" | tail -1
  grep -E '^Done|stat::number_of_executed_units|stat::peak_rss_mb' "build-fuzz/$t.log"
done
