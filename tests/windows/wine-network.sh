#!/usr/bin/env bash
# The Windows build on the network: lumivox.exe under Wine applies socket://127.0.0.1:PORT
# to a ser2net on the Linux side that serves the projector simulator's pseudo-terminal,
# shows the lamp state through it, and reconnects by itself after ser2net restarts.
# Usage: wine-network.sh PROGRAM_DIR SIMULATOR
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
ser2net_pid=

source "$(dirname "$(realpath "$0")")/wine-common.sh"
unset QT_QPA_PLATFORM

cleanup() {
    [ -n "$ser2net_pid" ] && kill "$ser2net_pid" 2>/dev/null || true
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    import -window root "${TMPDIR:-/tmp}/lumivox-wine-network-failure.png" 2>/dev/null \
        && echo "screen: ${TMPDIR:-/tmp}/lumivox-wine-network-failure.png"
    for log in "$work"/*.log; do echo "== $log"; tail -n 20 "$log"; done
    exit 1
}

command -v ser2net >/dev/null || fail "ser2net is not installed"

# --- Ports: every COM port leads to a path that does not exist ------------------------
dead_end=$work/no-port
map_com_ports "$dead_end" "$dead_end"

# --- The projector behind ser2net -------------------------------------------------------
"$simulator" --log --warm-up 1500 >"$work/simulator.log" 2>&1 &
pids+=($!)
wait_for 10 grep -qs "^Apply this port name" "$work/simulator.log" || fail "no simulator"
pty=$(grep -o '/dev/[^ ]*' "$work/simulator.log")
[[ "$pty" =~ ^/dev/pts/[0-9]+$ ]] && [ -c "$pty" ] || fail "no pseudo-terminal: '$pty'"

listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
tcp_port=
for _ in $(seq 50); do
    candidate=$((20000 + RANDOM % 30000))
    listening "$candidate" || { tcp_port=$candidate && break; }
done
[ -n "$tcp_port" ] || fail "no free port"
cat >"$work/ser2net.yaml" <<EOF
%YAML 1.1
---
connection: &projector
  accepter: tcp,127.0.0.1,$tcp_port
  connector: serialdev,$pty,9600n81,local
EOF
start_ser2net() {
    ser2net -n -d -u -c "$work/ser2net.yaml" >>"$work/ser2net.log" 2>&1 &
    ser2net_pid=$!
    wait_for 10 listening "$tcp_port" || fail "ser2net does not listen on $tcp_port"
}
stop_ser2net() {
    kill "$ser2net_pid"
    wait "$ser2net_pid" 2>/dev/null || true
    ser2net_pid=
}
opens() { grep -c 'port opened by the program' "$work/simulator.log" || true; }
polls() { grep -c '<- \* 0 Lamp ?\\r' "$work/simulator.log" || true; }
more_opens() { [ "$(opens)" -gt "$1" ]; }
more_polls() { [ "$(polls)" -gt "$1" ]; }
start_ser2net

# --- The window ------------------------------------------------------------------------
source "$(dirname "$(realpath "$0")")/../e2e/panel.sh"
start_window_manager
start_window

# 1. The bridge's name applied in the dialog: polled through ser2net, red for standby.
applied=$SECONDS
apply_port "socket://127.0.0.1:$tcp_port"
wait_for 10 more_polls 0 || fail "no lamp poll through ser2net"
wait_for 10 panel_is red || fail "no red panel: $(pixel $panel_x $panel_y) ($(panel_colour))"
echo "ok: socket://127.0.0.1:$tcp_port applied; polled through ser2net, red within $((SECONDS - applied)) s"

# 2. Power On goes through, and the lamp state comes back green.
click_at $power_on_x $power_on_y
wait_for 5 grep -q '<- OKOKOKOKOK\\r' "$work/simulator.log" || fail "Power On did not reach the projector"
wait_for 15 panel_is green || fail "no green after the warm-up: $(pixel $panel_x $panel_y) ($(panel_colour))"
echo "ok: Power On through the bridge, green after the warm-up"

# 3. ser2net restarts: the program reconnects by itself and polls again.
stop_ser2net
sleep 3
opens_before=$(opens)
start_ser2net
back=$SECONDS
wait_for 15 more_opens "$opens_before" || fail "no reconnection after ser2net restarted"
polls_before=$(polls)
wait_for 10 more_polls "$polls_before" || fail "no lamp poll after the reconnection"
wait_for 10 panel_is green || fail "not green after the reconnection: $(panel_colour)"
echo "ok: reconnected by itself within $((SECONDS - back)) s of ser2net's return, polled again, green"
echo "1 passed, 0 failed"
