#!/usr/bin/env bash
# End to end on Windows, as a user: lumivox.exe from the Windows zip under Wine, in a
# real X window (Xvfb with a small window manager), with COM1 leading to the projector
# simulator's pseudo-terminal. Clicks and keys with xdotool, colours from screenshots,
# the log view's text through the clipboard, the far end's view from the simulator's log.
# Usage: wine-e2e.sh PROGRAM_DIR SIMULATOR [SCREENSHOT]
# PROGRAM_DIR holds the unpacked zip; SCREENSHOT, if given, receives a picture of the
# window with the lamp on. With LUMIVOX_WINE_PREFIX set, the program runs in that Wine
# prefix (one it was installed into) and starts in PROGRAM_DIR, as its shortcut starts it;
# otherwise in a prefix of its own, from an empty folder.
set -euo pipefail

source "$(dirname "$(realpath "$0")")/private-dev.sh"

if [ -z "${LUMIVOX_E2E_INNER:-}" ]; then
    export LUMIVOX_E2E_INNER=1
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

program_dir=$(realpath "$1")
simulator=$(realpath "$2")
screenshot=${3:+$(realpath -m "$3")}
work=$(mktemp -d)
pids=()

source "$(dirname "$(realpath "$0")")/wine-common.sh"
unset QT_QPA_PLATFORM

cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    import -window root "${TMPDIR:-/tmp}/lumivox-wine-failure.png" 2>/dev/null \
        && echo "screen: ${TMPDIR:-/tmp}/lumivox-wine-failure.png"
    for log in "$work"/*.log; do echo "== $log"; tail -n 20 "$log"; done
    exit 1
}

# --- The serial ports Wine offers ---------------------------------------------------
# COM1 is a link of ours: to the simulator's pseudo-terminal while one runs, otherwise to
# a path that does not exist. Every other port Wine makes leads to that dead end or is
# removed, so nothing can reach a serial device of the machine.
com1=$work/com1
dead_end=$work/no-port
ln -s "$dead_end" "$com1"
dosdevices=$WINEPREFIX/dosdevices

map_com_ports "$com1" "$dead_end"
# The server of this prefix (other Wine users may run their own).
prefix_server() {
    local pid
    for pid in $(pgrep -x wineserver64) $(pgrep -x wineserver); do
        { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" \
            && echo "$pid"
    done | head -n 1
}
server=$(prefix_server)
[ -n "$server" ] || fail "no Wine server for $WINEPREFIX"
# Refuses to go on unless COM1 leads to the simulator's pseudo-terminal $port (one this
# test made) and every other port Wine has leads nowhere, with the same Wine server.
check_ports() {
    local link target
    [ "$(prefix_server)" = "$server" ] \
        || fail "the Wine server was restarted: its port links may have changed"
    [[ "$port" =~ ^/dev/pts/[0-9]+$ ]] && [ -c "$port" ] || fail "no pseudo-terminal: '$port'"
    [ "$(readlink "$dosdevices/com1")" = "$com1" ] && [ "$(readlink "$com1")" = "$port" ] \
        || fail "COM1 does not lead to $port: $(readlink "$dosdevices/com1") -> $(readlink "$com1")"
    for link in "$dosdevices"/com*; do
        [ "$link" = "$dosdevices/com1" ] && continue
        target=$(readlink "$link")
        [ "$target" = "$dead_end" ] || fail "$(basename "$link") leads to $target"
    done
    echo "ok: COM1 -> $com1 -> $port; $(ls "$dosdevices" | grep -c '^com') ports, the others lead nowhere"
}

# --- The projector ------------------------------------------------------------------
# Starts a simulator logging to $work/NAME.log, sets $port and $simulator_pid and
# points COM1 at it.
start_simulator() { # name, options...
    local name=$1
    shift
    "$simulator" --log "$@" >"$work/$name.log" 2>&1 &
    simulator_pid=$!
    pids+=("$simulator_pid")
    wait_for 10 grep -qs "^Apply this port name" "$work/$name.log" || fail "$name did not start"
    port=$(grep -o '/dev/[^ ]*' "$work/$name.log")
    ln -sfn "$port" "$com1"
}
# Seconds on the simulator's clock of the first log line matching $2 in $1.log.
seen_at() { grep -m 1 -e "$2" "$work/$1.log" | sed -n 's/^\[\([0-9.]*\)\].*/\1/p'; }
frames() { grep -cx "\[[0-9.]*\] <- $(sed 's/[*.]/\\&/g' <<<"$2")\\\\r" "$work/$1.log" || true; }
sent() { [ "$(frames "$1" "$2")" -gt "${3:-0}" ]; }

# --- The window ---------------------------------------------------------------------
source "$(dirname "$(realpath "$0")")/../e2e/panel.sh"

# The plug's picture: the unplugged one has red sparks, the joined one none.
plug_shows_contact() {
    import -window "$window" "$work/shot.png" 2>/dev/null || return 1
    local sparks
    sparks=$(convert "$work/shot.png" -crop "32x32+$(($(plug_x) - 16))+$(($(plug_y) - 16))" \
        -depth 8 txt:- | grep -o '#[0-9A-F]\{6\}' | while read -r hex; do
        [ $((16#${hex:1:2})) -gt 180 ] && [ $((16#${hex:3:2})) -lt 90 ] && echo x
    done | wc -l)
    [ "$sparks" -eq 0 ]
}

# The text of whatever has the keyboard focus, through the clipboard.
focused_text() {
    xdotool key ctrl+a ctrl+c
    sleep 0.5
    xclip -o -selection clipboard 2>/dev/null || true
}

error_boxes() { xdotool search --onlyvisible --name '^Error!$' 2>/dev/null || true; }
no_error_box() { [ -z "$(error_boxes)" ]; }

# The log view's text: shows the info panel, copies the log, hides the panel again.
read_log() {
    click_at $info_x $info_y
    sleep 1
    click_at $log_x $(($(geometry HEIGHT) - log_from_bottom))
    focused_text >"$work/log.raw"
    # Leaves no selection behind: the next log line would replace it.
    xdotool key ctrl+End
    tr '\r' '\n' <"$work/log.raw" | grep -v '^$' >"$work/log.txt" || true
    click_at $info_x $info_y
    sleep 1
}
log_count() { { grep -o -F -e "$1" "$work/log.txt" || true; } | wc -l; }

# How many descriptors of the program and the Wine server lead to the device $1 (Wine
# keeps a handle's descriptor in the server, and a copy in the program).
holders() {
    local pid
    for pid in "$lumivox_pid" "$server"; do
        ls -l "/proc/$pid/fd" 2>/dev/null || true
    done | grep -c -e "-> $1\$" -e "-> $1 (deleted)\$" || true
}
now() { date +%s.%N; }
seconds_since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

# CPU seconds (user + system) the process $1 has used so far.
cpu_seconds() {
    local ticks
    ticks=$(awk '{ print $14 + $15 }' "/proc/$1/stat")
    awk -v t="$ticks" -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.2f", t / hz }'
}

# More buttons, window-relative, as laid out under Wine with its own fonts.
brightness_x=162 brightness_y=75
lamp_time_x=270 lamp_time_y=68
info_x=162 info_y=326
log_x=250 log_from_bottom=80

# --- The run ------------------------------------------------------------------------
start_window_manager

start_simulator first --warm-up 1500
check_ports
start_dir=$work/cwd
[ -n "${LUMIVOX_WINE_PREFIX:-}" ] && start_dir=$program_dir
mkdir -p "$start_dir"
cd "$start_dir"
"$wine" "$program_dir/lumivox.exe" >"$work/lumivox.log" 2>&1 &
lumivox_pid=$!
pids+=("$lumivox_pid")
# Wine runs the program in the very process it was started as.
wait_for 20 grep -q 'lumivox\.exe' "/proc/$lumivox_pid/cmdline" 2>/dev/null \
    || fail "process $lumivox_pid is not lumivox.exe"
wait_for 60 window_shown '^Lumivox V 1\.2$' || fail "no window titled 'Lumivox V 1.2'"
window=$(visible_window '^Lumivox V 1\.2$')

# 1. COM1 opens at start, as on a PC with the projector on COM1.
wait_for 10 grep -q 'port opened by the program' "$work/first.log" || fail "COM1 not opened"
wait_for 10 sent first '* 0 Lamp ?' || fail "no lamp poll"
opened=$(seen_at first 'port opened by the program')
polled=$(seen_at first '<- \* 0 Lamp ?')
delay=$(awk -v a="$opened" -v b="$polled" 'BEGIN { printf "%.3f", b - a }')
awk -v d="$delay" 'BEGIN { exit !(d <= 1) }' \
    || fail "the first lamp poll came $delay s after the port opened"
[ "$(holders "$port")" -ge 1 ] || fail "no descriptor of the program leads to $port"
echo "ok: COM1 opened at start ($(holders "$port") descriptors on $port); the simulator saw '* 0 Lamp ?\\r' $delay s later"

# 2. Red for the lamp in standby, contact shown; green after Power On and the warm-up.
wait_for 10 panel_is red || fail "no red panel: $(pixel $panel_x $panel_y) ($(panel_colour))"
wait_for 5 plug_shows_contact || fail "the plug does not show contact"
echo "ok: red, $(pixel $panel_x $panel_y), and the plug shows contact"
click_at $power_on_x $power_on_y
wait_for 5 sent first 'OKOKOKOKOK' || fail "Power On did not reach the projector"
wait_for 15 panel_is green || fail "no green after the warm-up: $(pixel $panel_x $panel_y) ($(panel_colour))"
echo "ok: green after Power On and the warm-up, $(pixel $panel_x $panel_y)"
[ -n "$screenshot" ] && import -window "$window" "$screenshot"

# 3. The frames of a button, the Return key and a query.
click_at $brightness_x $brightness_y
wait_for 5 sent first '* 0 IR 025' || fail "Brightness: no '* 0 IR 025\\r'"
echo "ok: Brightness sent exactly '* 0 IR 025\\r'"
focus "$window"
xdotool key Return
wait_for 5 sent first '* 0 IR 013' || fail "Return: no '* 0 IR 013\\r'"
echo "ok: Return sent exactly '* 0 IR 013\\r'"
click_at $lamp_time_x $lamp_time_y
wait_for 5 sent first '* 0 Lamp' || fail "Lamp Time: no '* 0 Lamp\\r'"
echo "ok: Lamp Time sent exactly '* 0 Lamp\\r'"

# 3b. A script's request goes through the running window, which holds COM1: by the user's
# own named pipe, not by a second open of the port.
lamp_times=$(frames first '* 0 Lamp')
answer=$(timeout 30 "$wine" "$program_dir/lumivox.exe" --query lamp-time --json \
    2>"$work/cli.err" | tr -d '\r') || fail "lumivox.exe --query lamp-time: $(cat "$work/cli.err")"
grep -q '"via":"window"' <<<"$answer" && grep -q '"answer":"1234"' <<<"$answer" \
    || fail "lumivox.exe --query lamp-time --json printed: $answer"
sent first '* 0 Lamp' "$lamp_times" || fail "the window did not send '* 0 Lamp\\r' for the script"
echo "ok: lumivox.exe --query lamp-time went through the window's pipe: $answer"

# 4. The Settings dialog proposes COM1; applying it again reopens the port.
open_settings
proposed=$(focused_text)
[ "$proposed" = COM1 ] || fail "the Settings dialog proposes '$proposed'"
xdotool key Return
wait_for 10 settings_closed || fail "the Settings dialog stayed open"
# The simulator looks for its far end every 100 ms, so it may miss a quick reopening:
# the program's own log line is the proof, and the line must still carry the polls.
polls_before=$(frames first '* 0 Lamp ?')
wait_for 10 sent first '* 0 Lamp ?' "$polls_before" || fail "no lamp poll after reopening COM1"
read_log
grep -q 'Failed to initialize' "$work/log.txt" && fail "failure lines in the log: $(cat "$work/log.txt")"
[ "$(log_count 'Com-port initialized!')" -eq 1 ] || fail "no 'Com-port initialized!' in the log"
echo "ok: the dialog proposes COM1; applied again, 'Com-port initialized!' is logged and the polls go on" \
    "(the simulator saw $(grep -c 'port opened by the program' "$work/first.log") opens); no failure lines"

# 5. The simulator goes away: its line hangs up.
closes_before=$(log_count 'Communication with projector not possible.')
old_port=$port
kill "$simulator_pid"
wait "$simulator_pid" 2>/dev/null || true
ln -sfn "$dead_end" "$com1"
boxes=()
deadline=$((SECONDS + 12))
while [ $SECONDS -lt $deadline ]; do
    for box in $(error_boxes); do
        [[ " ${boxes[*]} " == *" $box "* ]] || boxes+=("$box")
    done
    [ ${#boxes[@]} -gt 0 ] && sleep 2 && break
    sleep 0.3
done
[ ${#boxes[@]} -le 1 ] || fail "${#boxes[@]} message boxes after the hang-up"
for box in "${boxes[@]}"; do
    focus "$box"
    xdotool key Return
done
wait_for 10 no_error_box || fail "the box stayed open"
wait_for 10 panel_is yellow || fail "not yellow after the hang-up: $(pixel $panel_x $panel_y) ($(panel_colour))"
sleep 1
cpu_start=$(cpu_seconds "$lumivox_pid")
sleep 2
cpu_used=$(awk -v a="$cpu_start" -v b="$(cpu_seconds "$lumivox_pid")" 'BEGIN { printf "%.2f", b - a }')
awk -v c="$cpu_used" 'BEGIN { exit !(c < 0.5) }' || fail "$cpu_used s of CPU in the 2 s after the hang-up"
for box in $(error_boxes); do
    [[ " ${boxes[*]} " == *" $box "* ]] || boxes+=("$box")
done
read_log
closes=$(($(log_count 'Communication with projector not possible.') - closes_before))
[ "$closes" -eq 1 ] || fail "'Communication with projector not possible.' logged $closes times"
[ ${#boxes[@]} -le 1 ] || fail "${#boxes[@]} message boxes after the hang-up"
[ "$(holders "$old_port")" -eq 0 ] || fail "the program still holds $old_port"
echo "ok: hang-up: port closed, logged once, ${#boxes[@]} box, $cpu_used s CPU in the 2 s after"
grep -v '^$' "$work/log.txt" | sed 's/^/    log: /'

# 6. The simulator is back: the program looks for the vanished port about once a second
# and reopens it by itself; applying COM1 reopens it again.
back=$(now)
start_simulator second --warm-up 1500
check_ports
wait_for 15 grep -q 'port opened by the program' "$work/second.log" \
    || fail "COM1 was not reopened once the simulator was back"
echo "ok: COM1 reopened by the program itself $(seconds_since "$back") s after the simulator came back"
apply_port COM1
polls_before=$(frames second '* 0 Lamp ?')
wait_for 10 sent second '* 0 Lamp ?' "$polls_before" || fail "no lamp poll after applying COM1"
wait_for 10 panel_is red || fail "no contact after reopening: $(pixel $panel_x $panel_y) ($(panel_colour))"
read_log
[ "$(log_count 'Com-port initialized!')" -eq 3 ] \
    || fail "not three 'Com-port initialized!' (applied, came back, applied): $(cat "$work/log.txt")"
echo "ok: applying COM1 after its return reopened it ('Com-port initialized!'), red"

# 7. Closing with the lamp on asks; Yes switches the projector off, then the program ends.
click_at $power_on_x $power_on_y
wait_for 15 panel_is green || fail "no green on the second projector"
wmctrl -i -c "$window"
wait_for 15 window_shown '^Projector is on!$' || fail "no question 'Projector is on!' on closing"
question=$(visible_window '^Projector is on!$')
focus "$question"
answered=$(now)
xdotool key Return
wait_for 5 sent second '* 0 IR 002' || fail "Yes did not send '* 0 IR 002\\r'"
status=0
wait "$lumivox_pid" || status=$?
took=$(seconds_since "$answered")
[ "$status" -eq 0 ] || fail "lumivox.exe ended with status $status"
awk -v t="$took" 'BEGIN { exit !(t >= 2) }' || fail "ended $took s after Yes, without the 2 s pause"
wait_for 10 grep -q 'port closed by the program' "$work/second.log" || fail "the port was not released"
echo "ok: 'Projector is on!' asked; Yes sent '* 0 IR 002\\r'; status 0 after $took s; port released"
echo "1 passed, 0 failed"
