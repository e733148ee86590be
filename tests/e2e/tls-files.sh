# Sourced by the service tests over TLS: make_tls_files DIR PORT NAMED_PORT writes a CA of
# the test's own (ca.pem), the broker's certificate from it for localhost and 127.0.0.1
# (server.pem, server.key), another CA that signed nothing of the broker's (other-ca.pem),
# and mosquitto-tls.conf for a broker with that certificate on 127.0.0.1:PORT and, on
# 127.0.0.1:NAMED_PORT, one from the same CA that names another host only. Needs openssl.
make_tls_files() {
    local dir=$1 port=$2 named_port=$3 name
    for name in ca other-ca; do
        printf '[req]\ndistinguished_name = dn\nprompt = no\nx509_extensions = ca\n[dn]\nCN = Lumivox test %s\n[ca]\nbasicConstraints = critical, CA:true\nkeyUsage = critical, keyCertSign, cRLSign\nsubjectKeyIdentifier = hash\n' \
            "$name" >"$dir/$name.cnf"
        openssl req -x509 -config "$dir/$name.cnf" -newkey ec \
            -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout "$dir/$name.key" \
            -out "$dir/$name.pem" -days 2 2>>"$dir/openssl.log" || return 1
    done
    for name in server:DNS:localhost,IP:127.0.0.1 elsewhere:DNS:elsewhere.invalid; do
        openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes \
            -subj "/CN=${name%%:*}" -keyout "$dir/${name%%:*}.key" -out "$dir/${name%%:*}.csr" \
            2>>"$dir/openssl.log" || return 1
        printf 'basicConstraints = CA:false\nkeyUsage = critical, digitalSignature, keyAgreement\nextendedKeyUsage = serverAuth\nsubjectAltName = %s\n' \
            "$(sed 's/,/, /g' <<<"${name#*:}")" >"$dir/${name%%:*}.ext"
        openssl x509 -req -in "$dir/${name%%:*}.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" \
            -CAcreateserial -days 2 -extfile "$dir/${name%%:*}.ext" \
            -out "$dir/${name%%:*}.pem" 2>>"$dir/openssl.log" || return 1
        # Started as root, mosquitto reads the key only after it has become its own user:
        # a throw-away key of the test, for loopback.
        chmod 644 "$dir/${name%%:*}.key"
    done
    chmod 755 "$dir"
    printf 'listener %s 127.0.0.1\ncertfile %s\nkeyfile %s\nlistener %s 127.0.0.1\ncertfile %s\nkeyfile %s\nallow_anonymous true\npersistence false\n' \
        "$port" "$dir/server.pem" "$dir/server.key" \
        "$named_port" "$dir/elsewhere.pem" "$dir/elsewhere.key" >"$dir/mosquitto-tls.conf"
}
