#!/usr/bin/env bash
# Builds in release mode and prints every benchmark figure with its limit and ratio.
set -euo pipefail
cd "$(dirname "$0")/.."

# --x: on an X server of its own (Xvfb, accessibility off), so that the figures include
# painting and flushing to a display; otherwise on the offscreen platform. Other arguments
# go to the bench (--live-seconds S).
x=false
args=()
for arg in "$@"; do
    if [ "$arg" = "--x" ]; then x=true; else args+=("$arg"); fi
done

if $x; then bash scripts/deps.sh xvfb xauth; else bash scripts/deps.sh; fi
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBOXTOOL_BUILD_TESTS=OFF >/dev/null
cmake --build build-release --target corvane-bench
if $x; then
    echo "platform: xcb on Xvfb"
    QT_ACCESSIBILITY=0 xvfb-run -a -s "-screen 0 1280x1024x24" \
        env QT_QPA_PLATFORM=xcb build-release/bench/corvane-bench "${args[@]}" 2>/dev/null
else
    echo "platform: offscreen"
    QT_QPA_PLATFORM=offscreen build-release/bench/corvane-bench "${args[@]}" 2>/dev/null
fi
