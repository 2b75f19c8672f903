#!/usr/bin/env bash
# Configures (once) and builds everything with Ninja in build/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
# A compiler cache, when installed, makes rebuilds in several work trees cheap.
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
[ -f build/build.ninja ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
ninja -C build -j"$(nproc)"
