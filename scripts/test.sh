#!/usr/bin/env bash
# Builds everything and runs every test. Tests need no display.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBOXTOOL_BUILD_TESTS=ON >/dev/null
cmake --build build
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure

# The real window in an X server of its own, driven by a real pointer.
bash scripts/e2e.sh
