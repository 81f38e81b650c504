# Sourced by scripts/e2e.sh and scripts/monkey.sh: an X server of their own (Xvfb) on a free
# display, with a window manager (openbox).
#
#     start_desktop RUN   # RUN: a folder for the server's cookie, the logs and openbox's files
#     stop_desktop
#
# start_desktop exports DISPLAY and XAUTHORITY (only clients with the server's cookie may
# connect); it returns 1, with the reason in desktop_error, when no X server can start.
desktop_pids=
desktop_error=

start_desktop() {
    local run=$1 cookie xvfb
    export XAUTHORITY="$run/Xauthority"
    cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
    touch "$XAUTHORITY"
    xauth -q -f "$XAUTHORITY" add :0 MIT-MAGIC-COOKIE-1 "$cookie"
    # The server takes a free display number and writes it once it accepts clients.
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -auth "$XAUTHORITY" \
        3>"$run/display" >"$run/xvfb.log" 2>&1 &
    xvfb=$!
    desktop_pids=$xvfb
    for _ in $(seq 100); do
        [ -s "$run/display" ] && break
        kill -0 "$xvfb" 2>/dev/null || break
        sleep 0.1
    done
    if [ ! -s "$run/display" ]; then
        desktop_error="no X server could start ($(tail -n 1 "$run/xvfb.log" 2>/dev/null))"
        return 1
    fi
    export DISPLAY=":$(tr -d '\n' <"$run/display")"
    xauth -q -f "$XAUTHORITY" add "$DISPLAY" MIT-MAGIC-COOKIE-1 "$cookie"
    XDG_CONFIG_HOME="$run" XDG_CACHE_HOME="$run" openbox --sm-disable >"$run/openbox.log" 2>&1 &
    # Openbox first when stopping: it leaves when its server goes, but not always quietly.
    desktop_pids="$! $xvfb"
}

stop_desktop() {
    local pid
    for pid in $desktop_pids; do kill "$pid" 2>/dev/null || true; done
    for pid in $desktop_pids; do wait "$pid" 2>/dev/null || true; done
    desktop_pids=
}
