#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test; then the same tests
# built with AddressSanitizer and UndefinedBehaviorSanitizer (scripts/asan.sh).
# TOLVA_SANITIZE=0 skips that second pass.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
(cd build && ctest --output-on-failure --no-tests=error -j2 "$@")
echo "== build and tests: ${SECONDS} s"
[ "${TOLVA_SANITIZE:-1}" = 0 ] || { bash scripts/asan.sh "$@"; echo "== with the sanitizer pass: ${SECONDS} s"; }
