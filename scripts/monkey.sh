#!/usr/bin/env bash
# The monkey: the tool built with the address and undefined-behaviour sanitizers, on an X
# server of its own (Xvfb) with a window manager (openbox), a simulated box behind a link
# that goes away and comes back, and random real input through the X server for a while.
#
#     bash scripts/monkey.sh [--seconds N] [--seed S] [--replay FILE] [--save FILE]
#
# Fails on a crash, a sanitizer's report, an exception that reached the event loop or a
# window that does not answer for 5 s; a failing run keeps its events in a file it names,
# which --replay sends again at the same pace; --save FILE keeps them whatever the outcome.
# Everything the tool writes stays in a temporary folder (its home, data, configuration and
# cache folders and its working folder).
set -euo pipefail
caller=$PWD
cd "$(dirname "$0")/.."

usage() {
    echo "usage: bash scripts/monkey.sh [--seconds N] [--seed S] [--replay FILE] [--save FILE]" >&2
    exit 2
}
seconds=60
seed=
replay=
save=
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) [ $# -ge 2 ] || usage; seconds=$2; shift 2 ;;
        --seed) [ $# -ge 2 ] || usage; seed=$2; shift 2 ;;
        --replay) [ $# -ge 2 ] || usage; replay=$2; shift 2 ;;
        --save) [ $# -ge 2 ] || usage; save=$2; shift 2 ;;
        *) usage ;;
    esac
done
[[ "$seconds" =~ ^[1-9][0-9]*$ ]] || usage
if [ -z "$seed" ]; then seed=$(( $(od -An -N4 -tu4 /dev/urandom) )); fi
[[ "$seed" =~ ^[0-9]+$ ]] || usage
if [ -n "$save" ]; then
    case "$save" in /*) ;; *) save="$caller/$save" ;; esac
fi
if [ -n "$replay" ]; then
    case "$replay" in /*) ;; *) replay="$caller/$replay" ;; esac
    [ -r "$replay" ] || { echo "monkey: cannot read $replay" >&2; exit 2; }
fi

bash scripts/deps.sh xvfb xauth openbox libx11-dev libxtst-dev gdb
# The sanitizer build of scripts/test.sh; only the tool and the driver are built here.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBOXTOOL_BUILD_TESTS=ON \
    -DBOXTOOL_SANITIZE=ON >/dev/null
cmake --build build-asan -j2 --target corvane-zel monkey
tool=$PWD/build-asan/app/corvane-zel
driver=$PWD/build-asan/monkey/monkey
kept=$PWD/build-asan/monkey

run=$(mktemp -d)
source scripts/desktop.sh
stop() {
    stop_desktop
    rm -rf "$run"
}
trap stop EXIT

if ! start_desktop "$run"; then
    # As scripts/e2e.sh does: a machine without a display server skips, saying so.
    echo "monkey: $desktop_error; the monkey is skipped."
    exit 0
fi

# The tool's whole world: a home and working folder in the run's folder, no session bus,
# and a stand-in for the browser that the logo's double click would start.
mkdir -p "$run/home/.local/share" "$run/home/.config" "$run/home/.cache" "$run/work" \
    "$run/bin" "$run/runtime"
chmod 700 "$run/runtime"
printf '#!/bin/sh\necho "$@" >>"%s/browser.log"\n' "$run" >"$run/bin/xdg-open"
chmod +x "$run/bin/xdg-open"
export HOME="$run/home" XDG_DATA_HOME="$run/home/.local/share" \
    XDG_CONFIG_HOME="$run/home/.config" XDG_CACHE_HOME="$run/home/.cache" \
    XDG_RUNTIME_DIR="$run/runtime" PATH="$run/bin:$PATH" BROWSER="$run/bin/xdg-open" \
    QT_QPA_PLATFORM=xcb NO_AT_BRIDGE=1
export DBUS_SESSION_BUS_ADDRESS="unix:path=$run/no-bus"
unset SESSION_MANAGER
# A finding stops the tool at once with its report; leaks are checked when it quits, with
# only Qt's own suppressed.
export ASAN_OPTIONS="halt_on_error=1:abort_on_error=1:detect_leaks=1:malloc_context_size=2"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:abort_on_error=1:print_stacktrace=1"

if [ -n "$replay" ]; then
    echo "monkey: replaying $replay on $DISPLAY"
    mode=(--replay "$replay")
else
    echo "monkey: seed $seed, $seconds s on $DISPLAY"
    mode=(--seconds "$seconds" --seed "$seed")
fi
status=0
(cd "$run/work" && "$driver" --tool "$tool" --link "$run/box" --events "$run/events.txt" \
    --stderr "$run/tool.stderr" "${mode[@]}") || status=$?
if [ -n "$save" ] && [ -s "$run/events.txt" ]; then
    cp "$run/events.txt" "$save"
    echo "monkey: the events are in $save"
fi
if [ "$status" -eq 0 ]; then exit 0; fi

if [ -s "$run/tool.stderr" ]; then
    echo "monkey: the tool's standard error (the end):" >&2
    tail -n 80 "$run/tool.stderr" >&2
fi
if [ "$status" -eq 1 ]; then
    mkdir -p "$kept"
    name="$kept/failed-$(date +%Y%m%d-%H%M%S)-$seed"
    cp "$run/events.txt" "$name.txt"
    cp "$run/tool.stderr" "$name.stderr" 2>/dev/null || true
    cp "$run/tool.stderr.stacks" "$name.stacks" 2>/dev/null || true
    cp "$run/tool.stderr.screen.ppm" "$name.ppm" 2>/dev/null || true
    echo "monkey: the events of this run are in $name.txt (the tool's standard error beside" \
        "it); send them again with" >&2
    echo "    bash scripts/monkey.sh --replay $name.txt" >&2
fi
exit "$status"
