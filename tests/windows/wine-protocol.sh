#!/usr/bin/env bash
# End to end on Windows with another maker's projector: lumivox.exe from the Windows zip
# under Wine, started with --protocol and a command set of the user's (or one shipped in
# the sets folder beside the program), against a fake projector that plays that set on the
# pseudo-terminal COM1 leads to. Power On through the window, the panel from the set's
# power query, and the power-off question on closing.
# Usage: wine-protocol.sh PROGRAM_DIR
# PROGRAM_DIR holds the unpacked zip.
set -euo pipefail

# The set the projector speaks: shipped beside the program when a set of that name is,
# else the test's own file, copied into the user's folder of sets.
set_name=testset

source "$(dirname "$(realpath "$0")")/private-dev.sh"

if [ -z "${LUMIVOX_E2E_INNER:-}" ]; then
    export LUMIVOX_E2E_INNER=1
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

here=$(dirname "$(realpath "$0")")
program_dir=$(realpath "$1")
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

# --- The set ------------------------------------------------------------------------
if [ -f "$program_dir/sets/$set_name.ini" ]; then
    set_file=$program_dir/sets/$set_name.ini
    echo "ok: $set_name is shipped beside the program"
else
    appdata=$("$wine" cmd /c echo %APPDATA% 2>/dev/null | tr -d '\r')
    user_sets=$("$wine" winepath -u "$appdata" 2>/dev/null | tr -d '\r')
    user_sets=${user_sets%/}/lumivox/sets
    [[ "$user_sets" == "$WINEPREFIX"/* ]] || fail "the user's folder '$user_sets' is not in the prefix"
    mkdir -p "$user_sets"
    set_file=$user_sets/$set_name.ini
    cp "$here/../fixtures/$set_name.ini" "$set_file"
    echo "ok: $set_name copied into the user's folder of sets ($appdata\\lumivox\\sets)"
fi

# --- The projector ------------------------------------------------------------------
# A fake projector of that set on a pseudo-terminal: it logs each frame by the name of
# what it is ("power-on", "power-query", ...), acknowledges a command and answers the
# power query with the set's on or off.
cat >"$work/projector.py" <<'EOF'
import os, pty, re, select, sys, tty

set_file, log_file = sys.argv[1], sys.argv[2]
sections, section = {}, None
for raw in open(set_file, encoding="utf-8"):
    line = raw.strip()
    if not line or line.startswith("#"):
        continue
    if line.startswith("["):
        section = sections.setdefault(line[1:-1], {})
        continue
    key, _, value = line.partition("=")
    section[key.strip()] = value.strip()

ESCAPES = {"r": b"\r", "n": b"\n", "t": b"\t", "s": b" ", "\\": b"\\"}
def unescaped(text):
    out, i = b"", 0
    while i < len(text):
        if text[i] == "\\":
            if text[i + 1] == "x":
                out += bytes([int(text[i + 2:i + 4], 16)]); i += 4; continue
            out += ESCAPES.get(text[i + 1], text[i + 1].encode("latin-1")); i += 2; continue
        out += text[i].encode("latin-1"); i += 1
    return out

def answer(pattern):
    # The first of the alternatives, as the projector would say it: any text as none,
    # any byte as "0".
    first = re.split(r"(?<!\\)\|", pattern)[0]
    first = re.sub(r"(?<!\\)\*", "", first)
    first = re.sub(r"(?<!\\)\?", "0", first)
    return unescaped(re.sub(r"\\([*?{}|])", r"\1", first))

frames, replies = sections.get("frames", {}), sections["replies"]
end, reply_end = unescaped(frames.get("end", "")), unescaped(replies["end"])
def framed(body):
    body = unescaped(body)
    rule = frames.get("checksum", "none")
    if rule != "none":
        last = frames.get("checksum-to", "end")
        summed = body[int(frames.get("checksum-from", "0")):None if last == "end" else int(last) + 1]
        value = 0
        for byte in summed:
            value = (value + byte) % 256 if rule == "sum8" else value ^ byte
        body += bytes([value])
    return body + end

names = {framed(body): name for name, body in sections["commands"].items()}
power = sections["power-state"]
names[framed(power["query"])] = "power-query"
accepted = answer(replies["accepted"]) + reply_end
state = {True: answer(power["on"]) + reply_end, False: answer(power["off"]) + reply_end}

master, slave = pty.openpty()
tty.setraw(slave)  # held open, so the pty outlives the program's closes
log = open(log_file, "a", buffering=1)
log.write("port %s\n" % os.ttyname(slave))
on, pending = False, b""
while True:
    select.select([master], [], [])
    try:
        pending += os.read(master, 1024)
    except OSError:
        continue
    while end and end in pending:
        frame, pending = pending.split(end, 1)
        name = names.get(frame + end, "unknown " + repr(frame + end))
        log.write("<- %s\n" % name)
        if name == "power-query":
            os.write(master, state[on])
        elif not name.startswith("unknown"):
            on = {"power-on": True, "power-off": False}.get(name, on)
            os.write(master, accepted)
EOF
python3 "$work/projector.py" "$set_file" "$work/projector.log" &
pids+=($!)
wait_for 10 grep -qs '^port /dev/' "$work/projector.log" || fail "the fake projector did not start"
port=$(sed -n 's/^port //p' "$work/projector.log")
[[ "$port" =~ ^/dev/pts/[0-9]+$ ]] && [ -c "$port" ] || fail "no pseudo-terminal: '$port'"
ln -sfn "$port" "$com1"
for link in "$dosdevices"/com*; do
    [ "$link" = "$dosdevices/com1" ] && continue
    [ "$(readlink "$link")" = "$dead_end" ] || fail "$(basename "$link") leads to $(readlink "$link")"
done
[ "$(readlink "$dosdevices/com1")" = "$com1" ] || fail "COM1 does not lead to $com1"
echo "ok: COM1 -> $com1 -> $port; the other ports lead nowhere"
seen() { grep -cx "<- $1" "$work/projector.log" || true; }
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
wait_for 10 sent power-query || fail "no power query of $set_name"
wait_for 10 panel_is red || fail "no red panel: $(pixel $panel_x $panel_y) ($(panel_colour))"
echo "ok: COM1 opened with $set_name: its power query, red"

# 2. Power On sends the set's frame; the next poll says on: green.
click_at $power_on_x $power_on_y
wait_for 5 sent power-on || fail "Power On did not reach the projector as $set_name's power-on"
wait_for 15 panel_is green || fail "no green after Power On: $(pixel $panel_x $panel_y) ($(panel_colour))"
echo "ok: Power On sent $set_name's power-on; green"
! grep -q '^<- unknown' "$work/projector.log" \
    || fail "frames not of $set_name: $(grep '^<- unknown' "$work/projector.log" | head -n 3)"
echo "ok: nothing but $set_name's frames on the line"

# 3. Closing with the projector on asks; Yes sends the set's power-off.
wmctrl -i -c "$window"
wait_for 15 window_shown '^Projector is on!$' || fail "no question 'Projector is on!' on closing"
focus "$(visible_window '^Projector is on!$')"
xdotool key Return
wait_for 5 sent power-off || fail "Yes did not send $set_name's power-off"
status=0
wait "$lumivox_pid" || status=$?
[ "$status" -eq 0 ] || fail "lumivox.exe ended with status $status"
echo "ok: 'Projector is on!' asked; Yes sent $set_name's power-off; status 0"
echo "1 passed, 0 failed"
