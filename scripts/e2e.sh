#!/usr/bin/env bash
# Runs the end-to-end test of the real window in an X server of its own (Xvfb), driven by
# a real pointer (xdotool). Expects a configured build in build/ (scripts/test.sh makes it).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh xvfb xdotool xauth
cmake --build build --target e2e_tests corvane-zel

display=":$((90 + RANDOM % 9))"
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    DISPLAY="$display" xdotool getmouselocation >/dev/null 2>&1 && break
    sleep 0.1
done
DISPLAY="$display" build/tests/e2e/e2e_tests
