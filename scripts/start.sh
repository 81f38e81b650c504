#!/usr/bin/env bash
# Builds the tool and starts it. Without a display it starts on the offscreen platform,
# saves a picture of the started window and prints where it is.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target corvane-zel

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec build/app/corvane-zel --simulate "$@"
fi
shot="$PWD/build/screenshot.png"
echo "No display found: starting offscreen and saving a screenshot."
QT_QPA_PLATFORM=offscreen build/app/corvane-zel --simulate --screenshot "$shot" "$@" 2>/dev/null
