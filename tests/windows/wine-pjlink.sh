#!/usr/bin/env bash
# The Windows build on a projector that speaks PJLink: lumivox.exe under Wine applies
# pjlink://127.0.0.1:PORT to the projector simulator's PJLink mode on the Linux side, types
# the projector's password into its box, shows standby red, and turns green after Power On
# and the warm-up.
# Usage: wine-pjlink.sh PROGRAM_DIR SIMULATOR
# Every COM port of the Wine prefix leads nowhere: no serial device of the machine is seen.
set -euo pipefail

# A /dev of its own, as for the other Wine tests; the network stays the machine's:
# loopback only.
source "$(dirname "$(realpath "$0")")/private-dev.sh"

if [ -z "${LUMIVOX_E2E_INNER:-}" ]; then
    export LUMIVOX_E2E_INNER=1
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

program_dir=$(realpath "$1")
simulator=$(realpath "$2")
work=$(mktemp -d)
pids=()
password=wine-test-password

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
    import -window root "${TMPDIR:-/tmp}/lumivox-wine-pjlink-failure.png" 2>/dev/null \
        && echo "screen: ${TMPDIR:-/tmp}/lumivox-wine-pjlink-failure.png"
    for log in "$work"/*.log; do echo "== $log"; tail -n 20 "$log"; done
    exit 1
}

# --- Ports: every COM port leads to a path that does not exist ------------------------
dead_end=$work/no-port
map_com_ports "$dead_end" "$dead_end"

# --- The projector, on a free loopback port ------------------------------------------------
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
tcp_port=
for _ in $(seq 50); do
    candidate=$((20000 + RANDOM % 30000))
    listening "$candidate" || { tcp_port=$candidate && break; }
done
[ -n "$tcp_port" ] || fail "no free port"
"$simulator" --pjlink --listen "$tcp_port" --password "$password" --class 2 --warm-up 1500 \
    --log >"$work/simulator.log" 2>&1 &
pids+=($!)
wait_for 10 grep -qs "^Apply this port name" "$work/simulator.log" || fail "no simulator"
requested() { grep -qF -- "<- $1" "$work/simulator.log"; }

# --- The window ------------------------------------------------------------------------
source "$(dirname "$(realpath "$0")")/../e2e/panel.sh"
start_window_manager
start_window

# 1. The projector's name applied in the dialog; its password typed into the box it asks
#    for; then standby, red.
applied=$SECONDS
apply_port "pjlink://127.0.0.1:$tcp_port"
wait_for 15 window_shown '^Projector password$' || fail "no password box"
box=$(visible_window '^Projector password$')
xdotool windowactivate --sync "$box" 2>/dev/null || true
xdotool type --delay 20 "$password"
xdotool key Return
wait_for 10 requested '%1POWR ?' || fail "no power state asked: the password was not taken"
wait_for 10 panel_is red || fail "no red panel: $(pixel $panel_x $panel_y) ($(panel_colour))"
echo "ok: pjlink://127.0.0.1:$tcp_port applied, password given in its box; standby red within $((SECONDS - applied)) s"

# 2. Power On: yellow while the projector warms up, then green.
click_at $power_on_x $power_on_y
wait_for 5 requested '%1POWR 1' || fail "Power On did not reach the projector"
wait_for 5 panel_is yellow || fail "not yellow while warming up: $(panel_colour)"
wait_for 15 panel_is green || fail "no green after the warm-up: $(pixel $panel_x $panel_y) ($(panel_colour))"
grep -q 'wrong password' "$work/simulator.log" && fail "the projector saw a wrong password"
echo "ok: Power On over PJLink, yellow while warming up, then green"
echo "1 passed, 0 failed"
