#!/usr/bin/env bash
# End to end on Windows with another maker's projector: lumivox.exe from the Windows zip
# under Wine, started with --protocol and a command set of the user's (or one shipped in
# the sets folder beside the program), against a fake projector that plays that set on the
# pseudo-terminal COM1 leads to. Power On through the window, the panel from the set's
# power query, and the power-off question on closing.
# Usage: wine-protocol.sh PROGRAM_DIR SIMULATOR LINUX_PROGRAM
# PROGRAM_DIR holds the unpacked zip; the simulator and the program (for the set's frames)
# are of the ordinary build.
set -euo pipefail

# The set the projector speaks, one of those shipped beside the program (this one echoes
# every frame before it answers).
set_name=benq-rs232

source "$(dirname "$(realpath "$0")")/private-dev.sh"

if [ -z "${LUMIVOX_E2E_INNER:-}" ]; then
    export LUMIVOX_E2E_INNER=1
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

here=$(dirname "$(realpath "$0")")
program_dir=$(realpath "$1")
simulator=$(realpath "$2")
linux_program=$(realpath "$3")
work=$(mktemp -d)
pids=()

source "$here/wine-common.sh"
unset QT_QPA_PLATFORM

cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    import -window root "${TMPDIR:-/tmp}/lumivox-wine-protocol-failure.png" 2>/dev/null \
        && echo "screen: ${TMPDIR:-/tmp}/lumivox-wine-protocol-failure.png"
    for log in "$work"/*.log; do echo "== $log"; tail -n 20 "$log"; done
    exit 1
}

# --- The sets beside the program ------------------------------------------------------
[ -f "$program_dir/sets/builtin.ini" ] || fail "no sets\\builtin.ini beside lumivox.exe"
echo "ok: the zip ships $(ls "$program_dir/sets" | wc -l) command sets in sets\\ beside lumivox.exe"

# --- The serial ports Wine offers ---------------------------------------------------
# As in wine-e2e.sh: COM1 is a link of ours to the fake projector's pseudo-terminal, every
# other port leads to a path that does not exist.
com1=$work/com1
dead_end=$work/no-port
ln -s "$dead_end" "$com1"
dosdevices=$WINEPREFIX/dosdevices
map_com_ports "$com1" "$dead_end"

# --- The projector ------------------------------------------------------------------
# The simulator plays the shipped set; the frames it must see are the set's, as the
# program lists them (in the same escaped form as the simulator's log).
[ -f "$program_dir/sets/$set_name.ini" ] || fail "$set_name is not shipped in sets\\"
echo "ok: $set_name is shipped beside the program"
frame_of() { # command name
    "$linux_program" --list --json --protocol "$set_name" \
        | python3 -c 'import json, sys; print(next(c["frame"] for c in json.load(sys.stdin)["commands"] if c["name"] == sys.argv[1]))' "$1"
}
power_on_frame=$(frame_of power-on) && power_off_frame=$(frame_of power-off) \
    || fail "no power frames of $set_name"
power_query_frame=$(sed -n 's/^query *= *//p' "$program_dir/sets/$set_name.ini" | head -n 1)
"$simulator" --log --protocol "$set_name" >"$work/projector.log" 2>&1 &
pids+=($!)
wait_for 10 grep -qs "^Apply this port name" "$work/projector.log" || fail "the simulator did not start"
port=$(grep -o '/dev/[^ ]*' "$work/projector.log")
[[ "$port" =~ ^/dev/pts/[0-9]+$ ]] && [ -c "$port" ] || fail "no pseudo-terminal: '$port'"
ln -sfn "$port" "$com1"
for link in "$dosdevices"/com*; do
    [ "$link" = "$dosdevices/com1" ] && continue
    [ "$(readlink "$link")" = "$dead_end" ] || fail "$(basename "$link") leads to $(readlink "$link")"
done
[ "$(readlink "$dosdevices/com1")" = "$com1" ] || fail "COM1 does not lead to $com1"
echo "ok: COM1 -> $com1 -> $port; the other ports lead nowhere"
seen() { grep -cF "] <- $1" "$work/projector.log" || true; }
sent() { [ "$(seen "$1")" -gt "${2:-0}" ]; }

# --- The run ------------------------------------------------------------------------
source "$here/../e2e/panel.sh"
start_window_manager

# Refused before any window: a set that is not there.
status=0
timeout 30 "$wine" "$program_dir/lumivox.exe" --protocol no-such-set >/dev/null \
    2>"$work/refused.log" || status=$?
[ "$status" -eq 64 ] || fail "--protocol no-such-set ended with $status, not 64"
echo "ok: lumivox.exe --protocol no-such-set is refused with 64"

mkdir -p "$work/cwd"
cd "$work/cwd"
"$wine" "$program_dir/lumivox.exe" --protocol "$set_name" >"$work/lumivox.log" 2>&1 &
lumivox_pid=$!
pids+=("$lumivox_pid")
wait_for 60 window_shown '^Lumivox V 1\.2$' || fail "no window titled 'Lumivox V 1.2'"
window=$(visible_window '^Lumivox V 1\.2$')

# 1. The set's power query at the start, red for a projector that says it is off.
wait_for 10 sent "$power_query_frame" || fail "no power query of $set_name"
wait_for 10 panel_is red || fail "no red panel: $(pixel $panel_x $panel_y) ($(panel_colour))"
echo "ok: COM1 opened with $set_name: its power query, red"

# 2. Power On sends the set's frame; the next poll says on: green.
click_at $power_on_x $power_on_y
wait_for 5 sent "$power_on_frame" \
    || fail "Power On did not reach the projector as $set_name's power-on ($power_on_frame; seen $(seen "$power_on_frame"))"
wait_for 15 panel_is green || fail "no green after Power On: $(pixel $panel_x $panel_y) ($(panel_colour))"
echo "ok: Power On sent $set_name's power-on; green"
others=$(grep -F '] <- ' "$work/projector.log" | grep -vF -e "] <- $power_query_frame" \
    -e "] <- $power_on_frame" -e "] <- $power_off_frame" || true)
[ -z "$others" ] || fail "frames not of $set_name: $(head -n 3 <<<"$others")"
echo "ok: nothing but $set_name's frames on the line"

# 3. Closing with the projector on asks; Yes sends the set's power-off.
wmctrl -i -c "$window"
wait_for 15 window_shown '^Projector is on!$' || fail "no question 'Projector is on!' on closing"
focus "$(visible_window '^Projector is on!$')"
xdotool key Return
wait_for 5 sent "$power_off_frame" || fail "Yes did not send $set_name's power-off"
status=0
wait "$lumivox_pid" || status=$?
[ "$status" -eq 0 ] || fail "lumivox.exe ended with status $status"
echo "ok: 'Projector is on!' asked; Yes sent $set_name's power-off; status 0"
echo "1 passed, 0 failed"
