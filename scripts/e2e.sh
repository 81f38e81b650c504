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
xvfb=
openbox=
stop() {
    # Openbox first: it leaves when its server goes, but not always quietly.
    for pid in $openbox $xvfb; do kill "$pid" 2>/dev/null || true; done
    for pid in $openbox $xvfb; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$run"
}
trap stop EXIT

skip() {
    echo "e2e: $1; the end-to-end rows are skipped."
    exit 0
}

if ! command -v Xvfb >/dev/null; then skip "Xvfb is not installed"; fi

# The server takes a free display number of its own and writes it once it accepts clients.
# Only clients with its cookie may connect.
export XAUTHORITY="$run/Xauthority"
cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
touch "$XAUTHORITY"
xauth -q -f "$XAUTHORITY" add :0 MIT-MAGIC-COOKIE-1 "$cookie"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -auth "$XAUTHORITY" \
    3>"$run/display" >"$run/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 100); do
    [ -s "$run/display" ] && break
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.1
done
if [ ! -s "$run/display" ]; then
    skip "no X server could start ($(tail -n 1 "$run/xvfb.log" 2>/dev/null))"
fi
display=":$(tr -d '\n' <"$run/display")"
xauth -q -f "$XAUTHORITY" add "$display" MIT-MAGIC-COOKIE-1 "$cookie"
if ! DISPLAY="$display" xdotool getmouselocation >/dev/null 2>&1; then
    skip "the X server on $display takes no clients"
fi

# The window manager is ready once it names the current desktop on the root window.
XDG_CONFIG_HOME="$run" XDG_CACHE_HOME="$run" DISPLAY="$display" \
    openbox --sm-disable >"$run/openbox.log" 2>&1 &
openbox=$!
for _ in $(seq 100); do
    DISPLAY="$display" xdotool get_desktop >/dev/null 2>&1 && break
    sleep 0.1
done
if ! DISPLAY="$display" xdotool get_desktop >/dev/null 2>&1; then
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
