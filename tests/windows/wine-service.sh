#!/usr/bin/env bash
# The Windows build as a service: lumivox.exe --serve under Wine, on COM1 leading to the
# projector simulator, against a mosquitto on this side of Wine (loopback only). It comes
# online with its discovery, runs power-on from the command topic through the warm-up,
# serves the command line on its named pipe, goes on polling while the broker is away and
# comes back online after it, and its last will says offline when the process is killed.
# Against a TLS broker (mqtts) with the test's own CA it comes online with that CA
# (--mqtt-ca), is refused with the reason under another CA or for a certificate that names
# another host, and without --mqtt-ca (no Windows certificate store) it does not start. Windows has no SIGTERM: the clean "offline" of a
# stopped service is the Linux tests' to show.
# Usage: wine-service.sh PROGRAM_DIR SIMULATOR
set -euo pipefail

source "$(dirname "$(realpath "$0")")/private-dev.sh"

if [ -z "${LUMIVOX_E2E_INNER:-}" ]; then
    export LUMIVOX_E2E_INNER=1
    exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

program_dir=$(realpath "$1")
simulator=$(realpath "$2")
work=$(mktemp -d)
pids=()
broker_pid=
tls_broker_pid=
service_pid=

source "$(dirname "$(realpath "$0")")/wine-common.sh"
unset QT_QPA_PLATFORM

cleanup() {
    [ -n "$service_pid" ] && kill -9 "$service_pid" 2>/dev/null || true
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    [ -n "$broker_pid" ] && kill "$broker_pid" 2>/dev/null || true
    [ -n "$tls_broker_pid" ] && kill "$tls_broker_pid" 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    for log in "$work"/*.log; do echo "== $log"; tail -n 20 "$log"; done
    exit 1
}

command -v mosquitto >/dev/null || fail "mosquitto is not installed"
command -v openssl >/dev/null || fail "openssl is not installed"

# --- The projector on COM1 --------------------------------------------------------------
"$simulator" --log --warm-up 1500 --cool-down 1500 >"$work/simulator.log" 2>&1 &
pids+=($!)
wait_for 10 grep -qs "^Apply this port name" "$work/simulator.log" || fail "no simulator"
pty=$(grep -o '/dev/[^ ]*' "$work/simulator.log")
[[ "$pty" =~ ^/dev/pts/[0-9]+$ ]] && [ -c "$pty" ] || fail "no pseudo-terminal: '$pty'"
map_com_ports "$pty" "$work/no-port"
sent() { grep -c -- "<- $1\\\\r" "$work/simulator.log" || true; }
more_sent() { [ "$(sent "$1")" -gt "$2" ]; }

# --- The broker and a watcher -----------------------------------------------------------
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
free_port() {
    local candidate
    for _ in $(seq 50); do
        candidate=$((20000 + RANDOM % 30000))
        [ "$candidate" != "${1:-}" ] && ! listening "$candidate" && echo "$candidate" && return 0
    done
    return 1
}
port=$(free_port) || fail "no free port"
printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\n' "$port" >"$work/mosquitto.conf"
start_broker() {
    mosquitto -c "$work/mosquitto.conf" >>"$work/broker.log" 2>&1 &
    broker_pid=$!
    wait_for 10 listening "$port" || fail "mosquitto does not listen on $port"
}
stop_broker() {
    kill "$broker_pid"
    wait "$broker_pid" 2>/dev/null || true
    broker_pid=
}
start_watch() {
    mosquitto_sub -h 127.0.0.1 -p "$port" -v -t 'lumivox/#' -t 'homeassistant/#' \
        >>"$work/watch.log" 2>&1 &
    pids+=($!)
}
last() { grep "^lumivox/wine-room/$1 " "$work/watch.log" | tail -n 1 | cut -d' ' -f2-; }
is() { [ "$(last "$1")" = "$2" ]; }
start_broker
start_watch

# --- A TLS broker (mqtts) with the test's own CA ------------------------------------------
source "$(dirname "$(realpath "$0")")/../e2e/tls-files.sh"
tls_port=$(free_port) || fail "no free port"
named_port=$(free_port "$tls_port") || fail "no free port"
make_tls_files "$work" "$tls_port" "$named_port" || fail "openssl could not make the certificates"
mosquitto -c "$work/mosquitto-tls.conf" >>"$work/tls-broker.log" 2>&1 &
tls_broker_pid=$!
wait_for 10 listening "$tls_port" && wait_for 10 listening "$named_port" \
    || fail "the TLS mosquitto does not listen on $tls_port and $named_port"
mosquitto_sub -h localhost -p "$tls_port" --cafile "$work/ca.pem" -v -t 'lumivox/wine-tls/#' \
    >>"$work/tls-watch.log" 2>&1 &
pids+=($!)
tls_last() { grep "^lumivox/wine-tls/$1 " "$work/tls-watch.log" | tail -n 1 | cut -d' ' -f2-; }
tls_is() { [ "$(tls_last "$1")" = "$2" ]; }
mkdir "$work/cwd"
cd "$work/cwd"
# The files as a Windows program names them.
ca_file=$("$wine" winepath.exe -w "$work/ca.pem" 2>/dev/null | tr -d '\r')
other_ca_file=$("$wine" winepath.exe -w "$work/other-ca.pem" 2>/dev/null | tr -d '\r')
[[ "$ca_file" == *:\\* ]] && [[ "$other_ca_file" == *:\\* ]] || fail "winepath gave '$ca_file'"
tls_service=("$wine" "$program_dir/lumivox.exe" --serve --mqtt "mqtts://localhost:$tls_port"
    --port COM1 --id wine-tls)
# Killed as ending the scheduled task does (no wineserver -k: the port links stay as made).
stop_service() {
    kill -9 "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
    service_pid=
}

# Without --mqtt-ca it does not start: Windows' own store is out of its reach.
status=0
timeout 60 "${tls_service[@]}" >"$work/tls-no-ca.log" 2>&1 || status=$?
[ "$status" = 64 ] && grep -q -- '--mqtt-ca' "$work/tls-no-ca.log" \
    || fail "mqtts:// without --mqtt-ca gave status $status: $(cat "$work/tls-no-ca.log")"
echo "ok: mqtts:// without --mqtt-ca refused with status 64: $(tr -d '\r' <"$work/tls-no-ca.log" | head -n 1)"

# Under a CA that did not sign the broker's certificate it never comes online, and says why.
"${tls_service[@]}" --mqtt-ca "$other_ca_file" >"$work/tls-other-ca.log" 2>&1 &
service_pid=$!
wait_for 60 grep -q 'Broker: .*certificate verify failed' "$work/tls-other-ca.log" \
    || fail "no 'certificate verify failed' under another CA"
# And it is tried again, as for a broker that is away (1 s, then 2 s ...).
handshakes() { [ "$(grep -c 'alert unknown ca' "$work/tls-broker.log")" -ge "$1" ]; }
wait_for 30 handshakes 2 || fail "not tried again after the refused certificate"
tls_is availability online && fail "online on a broker whose certificate another CA signed"
grep -q "New client connected.*lumivox-wine-tls" "$work/tls-broker.log" \
    && fail "the broker took the connection made under another CA"
stop_service
echo "ok: under another CA refused and tried again: $(grep -o 'Broker: .*' "$work/tls-other-ca.log" | tr -d '\r' | head -n 1)"

# A certificate of the right CA that names another host: never online either.
"$wine" "$program_dir/lumivox.exe" --serve --mqtt "mqtts://localhost:$named_port" \
    --mqtt-ca "$ca_file" --port COM1 --id wine-tls >"$work/tls-named.log" 2>&1 &
service_pid=$!
wait_for 60 grep -q 'Broker: .*host name verification failed' "$work/tls-named.log" \
    || fail "no 'host name verification failed' for a certificate that names another host"
tls_is availability online && fail "online with a certificate that names another host"
grep -q "New client connected.*lumivox-wine-tls" "$work/tls-broker.log" \
    && fail "the broker took the connection to a certificate that names another host"
stop_service
echo "ok: a certificate of the CA for another host refused: $(grep -o 'Broker: .*host name.*' "$work/tls-named.log" | tr -d '\r' | head -n 1)"

# With the right CA it comes online, and its last will reaches the broker through TLS.
"${tls_service[@]}" --mqtt-ca "$ca_file" >"$work/tls-service.log" 2>&1 &
service_pid=$!
wait_for 60 tls_is availability online || fail "not online over mqtts://localhost with --mqtt-ca"
wait_for 15 tls_is power off || fail "no power 'off' over TLS: '$(tls_last power)'"
grep -q 'Broker: ' "$work/tls-service.log" && fail "broker problems over TLS: $(grep 'Broker: ' "$work/tls-service.log")"
stop_service
wait_for 15 tls_is availability offline || fail "no 'offline' over TLS after the service was killed"
kill "$tls_broker_pid"
wait "$tls_broker_pid" 2>/dev/null || true
tls_broker_pid=
echo "ok: mqtts://localhost:$tls_port with --mqtt-ca: online, power off, offline by its last will"

# --- The service ------------------------------------------------------------------------
"$wine" "$program_dir/lumivox.exe" --serve --mqtt "mqtt://127.0.0.1:$port" --port COM1 \
    --id wine-room >"$work/service.log" 2>&1 &
service_pid=$!
wait_for 60 is availability online || fail "the service did not come online"
wait_for 15 is power off || fail "no power 'off' from the projector: $(last power)"
is contact ON || fail "contact is '$(last contact)'"
wait_for 10 is lamp_hours 1234 || fail "lamp hours '$(last lamp_hours)'"
# One device configuration, its 28 components each with a unique id.
configs=$(grep '^homeassistant/device/lumivox_wine-room/config {' "$work/watch.log" | tail -n 1 \
    | grep -o '"unique_id":"lumivox_wine-room_[a-z0-9_-]*"' | sort -u | wc -l)
[ "$configs" -ge 28 ] || fail "$configs components in the discovery configuration"
echo "ok: online, power off, contact ON, 1234 lamp hours, $configs discovery components"

mosquitto_pub -h 127.0.0.1 -p "$port" -q 1 -t lumivox/wine-room/command -m power-on
wait_for 5 more_sent OKOKOKOKOK 0 || fail "power-on did not reach COM1"
wait_for 5 is power warming || fail "power is '$(last power)', not warming"
wait_for 15 is power on || fail "power is '$(last power)' after the warm-up"
echo "ok: power-on from the command topic on COM1, power warming, then on"

answer=$(timeout 30 "$wine" "$program_dir/lumivox.exe" --status --json --port COM1 \
    2>"$work/cli.err" | tr -d '\r') || fail "lumivox.exe --status: $(cat "$work/cli.err")"
grep -q '"via":"service"' <<<"$answer" && grep -q '"lamp":"on"' <<<"$answer" \
    || fail "lumivox.exe --status --json printed: $answer"
echo "ok: the command line went through the service's pipe: $answer"

# --- The broker away and back -----------------------------------------------------------
stop_broker
polls=$(sent '\* 0 Lamp ?')
wait_for 10 more_sent '\* 0 Lamp ?' "$polls" || fail "no poll while the broker was away"
: >"$work/watch.log"
start_broker
start_watch
wait_for 30 is availability online || fail "not back online after the broker's return"
wait_for 10 is power on || fail "power not published again: '$(last power)'"
echo "ok: polled on while the broker was away, online again with power on after its return"

# --- The last will ----------------------------------------------------------------------
# As ending the scheduled task does: the process is terminated, with no word of its own.
wineserver -k
wait "$service_pid" 2>/dev/null || true
service_pid=
wait_for 15 is availability offline || fail "no 'offline' after the service was killed"
echo "ok: terminated, the broker's last will said offline"
echo "1 passed, 0 failed"
