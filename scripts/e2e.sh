#!/usr/bin/env bash
# Runs the end-to-end rows (tests/e2e): the real window on an X server of its own (Xvfb)
# with a window manager (openbox), driven through the X server (xdotool), each row in a
# process of its own under CTest. Arguments go to ctest, for example
#     bash scripts/e2e.sh -R 'e2e.LinkRows.SendAfter'
# or, after "--", make a command to run on the display instead, for example
#     bash scripts/e2e.sh -- gdb --args build/tests/e2e/e2e_tests --gtest_filter='LinkRows.*'
# Skips, saying why, when no X server can start. Configures build/ when it is not yet.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh xvfb xauth xdotool openbox
if [ ! -f build/build.ninja ]; then
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBOXTOOL_BUILD_TESTS=ON \
        >/dev/null
fi
cmake --build build --target e2e_tests -j2

run=$(mktemp -d)
source scripts/desktop.sh
stop() {
    stop_desktop
    rm -rf "$run"
}
trap stop EXIT

skip() {
    echo "e2e: $1; the end-to-end rows are skipped."
    exit 0
}

if ! command -v Xvfb >/dev/null; then skip "Xvfb is not installed"; fi
start_desktop "$run" || skip "$desktop_error"
display=$DISPLAY
if ! xdotool getmouselocation >/dev/null 2>&1; then
    skip "the X server on $display takes no clients"
fi

# The window manager is ready once it names the current desktop on the root window.
for _ in $(seq 100); do
    xdotool get_desktop >/dev/null 2>&1 && break
    sleep 0.1
done
if ! xdotool get_desktop >/dev/null 2>&1; then
    echo "e2e: openbox did not start on $display:" >&2
    cat "$run/openbox.log" >&2
    exit 1
fi

echo "e2e: Xvfb and openbox on $display"
export BOXTOOL_E2E_DISPLAY="$display"
if [ "${1:-}" = "--" ]; then
    shift
    "$@"
else
    ctest --test-dir build -L e2e --output-on-failure "$@"
fi
