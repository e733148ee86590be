#!/usr/bin/env bash
# End to end, as a user: the real lumivox in a real X window (Xvfb with a small window
# manager) against the projector simulator. Clicks with xdotool, reads the status
# panel's colour from screenshots, closes the window through the window manager.
# Usage: window.sh LUMIVOX SIMULATOR
set -euo pipefail

if [ -z "${LUMIVOX_E2E_INNER:-}" ]; then
    export LUMIVOX_E2E_INNER=1
    # From :141 on, clear of the displays tst_translation tries while it runs alongside.
    exec xvfb-run -a -n 141 -s "-screen 0 1024x768x24" "$0" "$@"
fi

lumivox=$(realpath "$1")
simulator=$(realpath "$2")
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
unset QT_QPA_PLATFORM

fail() {
    echo "FAIL: $*"
    [ -f "$work/shot.png" ] && cp "$work/shot.png" "${TMPDIR:-/tmp}/lumivox-e2e-failure.png" \
        && echo "last screenshot: ${TMPDIR:-/tmp}/lumivox-e2e-failure.png"
    for log in "$work"/*.log; do echo "== $log"; tail -n 20 "$log"; done
    exit 1
}

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
    local seconds=$1; shift
    local deadline=$((SECONDS + seconds))
    until "$@"; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.2
    done
}

openbox >"$work/wm.log" 2>&1 &
pids+=($!)
wait_for 10 wmctrl -m >/dev/null 2>&1 || fail "no window manager"

# Starts a simulator logging to $work/NAME.log and sets $port to its port name.
start_simulator() { # name, options...
    local name=$1; shift
    "$simulator" --log "$@" >"$work/$name.log" 2>&1 &
    pids+=($!)
    wait_for 5 grep -q '^Apply this port name' "$work/$name.log" || fail "$name did not start"
    port=$(grep -o '/dev/[^ ]*' "$work/$name.log")
}

source "$(dirname "$(realpath "$0")")/panel.sh"
yellow=yellow
red=red
green=green

click_at() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
# The plug button sits in the bottom-right corner above the status bar.
click_plug() {
    local geometry width height
    geometry=$(xdotool getwindowgeometry --shell "$window")
    width=$(sed -n 's/^WIDTH=//p' <<<"$geometry")
    height=$(sed -n 's/^HEIGHT=//p' <<<"$geometry")
    click_at $((width - 31)) $((height - 53))
}
apply_port() {
    click_plug
    local dialog
    dialog=$(timeout 10 xdotool search --sync --onlyvisible --name '^Settings$' | head -n 1 || true)
    [ -n "$dialog" ] || fail "no Settings dialog after clicking the plug button"
    # The dialog has the focus, in its line edit; a pseudo-terminal is no port the
    # completion lists, so Return goes to the dialog.
    xdotool key ctrl+a
    xdotool type --delay 20 "$1"
    xdotool key Return
    wait_for 5 bash -c "! xdotool search --onlyvisible --name '^Settings\$' >/dev/null" \
        || fail "the Settings dialog stayed open"
}

start_simulator first --warm-up 1500 --hang-up-after 14
first=$port
cd "$work"
"$lumivox" >"$work/lumivox.log" 2>&1 &
lumivox_pid=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Lumivox V 1\.2$' | head -n 1 || true)
[ -n "$window" ] || fail "no window titled 'Lumivox V 1.2'"

wait_for 5 panel_is $yellow || fail "the status panel is not yellow at start: $(pixel $panel_x $panel_y) ($(panel_colour))"
echo "ok: yellow at start, $(pixel $panel_x $panel_y) in a $(identify -format %wx%h "$work/shot.png") window"

apply_port "$first"
wait_for 8 grep -q 'port opened by the program' "$work/first.log" || fail "port not opened"
wait_for 8 panel_is $red || fail "no red panel for the lamp in standby: $(pixel $panel_x $panel_y) ($(panel_colour))"
echo "ok: red after applying $first, $(pixel $panel_x $panel_y)"

click_at 65 62 # "Power On"
wait_for 3 grep -q '<- OKOKOKOKOK' "$work/first.log" || fail "Power On did not reach the projector"
wait_for 10 panel_is $green || fail "no green panel after the warm-up: $(pixel $panel_x $panel_y) ($(panel_colour))"
echo "ok: green after Power On and the warm-up, $(pixel $panel_x $panel_y)"

wait_for 25 grep -q 'hanging up' "$work/first.log" || fail "the simulator did not hang up"
wait_for 10 panel_is $yellow || fail "not yellow after the hang-up: $(pixel $panel_x $panel_y) ($(panel_colour))"
echo "ok: yellow after the hang-up, $(pixel $panel_x $panel_y)"

start_simulator second
second=$port
apply_port "$second"
wait_for 8 panel_is $red || fail "no contact with the second projector: $(pixel $panel_x $panel_y) ($(panel_colour))"
echo "ok: red again on $second"

wmctrl -c 'Lumivox V 1.2'
status=0
wait "$lumivox_pid" || status=$?
[ "$status" -eq 0 ] || fail "lumivox exited with $status"
wait_for 5 grep -q 'port closed by the program' "$work/second.log" \
    || fail "the port was not released"
echo "ok: closed with status 0, port released"
echo "1 passed, 0 failed"
