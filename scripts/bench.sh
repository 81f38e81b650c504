#!/usr/bin/env bash
# Builds in release mode and prints every benchmark figure with its limit and ratio.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBOXTOOL_BUILD_TESTS=OFF >/dev/null
cmake --build build-release --target corvane-bench
QT_QPA_PLATFORM=offscreen build-release/bench/corvane-bench "$@" 2>/dev/null
