#!/usr/bin/env bash
# The service over TLS (mqtts://) against a mosquitto on loopback with a CA of the test's
# own, on the projector simulator's pseudo-terminal: online with that CA (--mqtt-ca);
# under another CA never online, with OpenSSL's reason in its log, and tried again like a
# broker that is away (libmosquitto ends a failed handshake without its disconnect call);
# never online either with a certificate of that CA that names another host.
# Usage: service-tls.sh LUMIVOX SIMULATOR
set -euo pipefail

lumivox=$(realpath "$1")
simulator=$(realpath "$2")
work=$(mktemp -d)
pids=()
service_pid=
cleanup() {
    [ -n "$service_pid" ] && kill -9 "$service_pid" 2>/dev/null || true
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
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

command -v mosquitto >/dev/null || fail "mosquitto is not installed"
command -v openssl >/dev/null || fail "openssl is not installed"

"$simulator" --log >"$work/simulator.log" 2>&1 &
pids+=($!)
wait_for 10 grep -qs "^Apply this port name" "$work/simulator.log" || fail "no simulator"
pty=$(grep -o '/dev/[^ ]*' "$work/simulator.log")
[[ "$pty" =~ ^/dev/pts/[0-9]+$ ]] && [ -c "$pty" ] || fail "no pseudo-terminal: '$pty'"

listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
# Below the range the system hands out for port 0 and for connections, which the tests
# running alongside take from.
read -r ephemeral _ </proc/sys/net/ipv4/ip_local_port_range 2>/dev/null || ephemeral=32768
[ "$ephemeral" -gt 11000 ] || ephemeral=32768
free_port() {
    local candidate
    for _ in $(seq 50); do
        candidate=$((10000 + RANDOM % (ephemeral - 10000)))
        [ "$candidate" != "${1:-}" ] && ! listening "$candidate" && echo "$candidate" && return 0
    done
    return 1
}
port=$(free_port) || fail "no free port"
named_port=$(free_port "$port") || fail "no free port"
source "$(dirname "$(realpath "$0")")/tls-files.sh"
make_tls_files "$work" "$port" "$named_port" || fail "openssl could not make the certificates"
mosquitto -c "$work/mosquitto-tls.conf" >>"$work/broker.log" 2>&1 &
pids+=($!)
wait_for 10 listening "$port" && wait_for 10 listening "$named_port" \
    || fail "mosquitto does not listen on $port and $named_port"
mosquitto_sub -h localhost -p "$port" --cafile "$work/ca.pem" -v -t 'lumivox/linux-tls/#' \
    >>"$work/watch.log" 2>&1 &
pids+=($!)
last() { grep "^lumivox/linux-tls/$1 " "$work/watch.log" | tail -n 1 | cut -d' ' -f2-; }
is() { [ "$(last "$1")" = "$2" ]; }
service=("$lumivox" --serve --mqtt "mqtts://localhost:$port" --port "$pty" --id linux-tls)
stop_service() {
    kill -9 "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
    service_pid=
}

"${service[@]}" --mqtt-ca "$work/other-ca.pem" >"$work/other-ca.log" 2>&1 &
service_pid=$!
wait_for 30 grep -Eq 'Broker: .*(certificate verify failed|certificate is not trusted)' "$work/other-ca.log" \
    || fail "no 'certificate verify failed' under another CA"
handshakes() { [ "$(grep -c 'alert unknown ca' "$work/broker.log")" -ge "$1" ]; }
wait_for 30 handshakes 3 || fail "not tried again after the refused certificate"
is availability online && fail "online on a broker whose certificate another CA signed"
grep -q "New client connected.*lumivox-linux-tls" "$work/broker.log" \
    && fail "the broker took the connection made under another CA"
stop_service
echo "ok: under another CA refused and tried again: $(grep -o 'Broker: .*' "$work/other-ca.log" | head -n 1)"

"$lumivox" --serve --mqtt "mqtts://localhost:$named_port" --mqtt-ca "$work/ca.pem" --port "$pty" \
    --id linux-tls >"$work/named.log" 2>&1 &
service_pid=$!
wait_for 30 grep -Eq 'Broker: .*(host name verification failed|for another host name)' "$work/named.log" \
    || fail "no 'host name verification failed' for a certificate that names another host"
is availability online && fail "online with a certificate that names another host"
grep -q "New client connected.*lumivox-linux-tls" "$work/broker.log" \
    && fail "the broker took the connection to a certificate that names another host"
stop_service
echo "ok: a certificate of the CA for another host refused: $(grep -o 'Broker: .*host name.*' "$work/named.log" | head -n 1)"

"${service[@]}" --mqtt-ca "$work/ca.pem" >"$work/service.log" 2>&1 &
service_pid=$!
wait_for 30 is availability online || fail "not online over mqtts://localhost with --mqtt-ca"
wait_for 15 is power off || fail "no power 'off' over TLS: '$(last power)'"
grep -q 'Broker: ' "$work/service.log" && fail "broker problems: $(grep 'Broker: ' "$work/service.log")"
stop_service
wait_for 15 is availability offline || fail "no 'offline' by the last will over TLS"
echo "ok: mqtts://localhost:$port with --mqtt-ca: online, power off, offline by its last will"
