# Sourced first by the Wine tests, before anything starts Wine.
# Wine looks for the machine's serial devices (/dev/ttyS*, ttyUSB*, ttyACM*) whenever
# its server starts. In a mount namespace of its own the test gives it a /dev that holds
# only pseudo-terminals of its own and a few plain devices, so it cannot even see them. Where no
# namespace can be made, the ports are still mapped away before the program starts.
# A test started from another one inside that /dev keeps it.
if [ -z "${LUMIVOX_E2E_SANDBOX:-}" ]; then
    export LUMIVOX_E2E_SANDBOX=private-dev
    for as_root in "" --map-root-user; do
        if unshare --mount --propagation private $as_root true 2>/dev/null; then
            exec unshare --mount --propagation private $as_root "$0" "$@"
        fi
    done
    export LUMIVOX_E2E_SANDBOX=none
    echo "(no mount namespace here: Wine sees the machine's /dev)"
elif [ "$LUMIVOX_E2E_SANDBOX" = private-dev ]; then
    host_dev=$(mktemp -d)
    mount --bind /dev "$host_dev"
    mount -t tmpfs -o mode=755 lumivox-dev /dev
    for node in null zero full random urandom tty; do
        touch "/dev/$node"
        mount --bind "$host_dev/$node" "/dev/$node"
    done
    mkdir /dev/shm /dev/pts
    mount --bind "$host_dev/shm" /dev/shm
    # Pseudo-terminals of the test's own, which nothing outside can see or reach.
    mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 lumivox-pts /dev/pts
    ln -s pts/ptmx /dev/ptmx
    ln -s /proc/self/fd /dev/fd
    ln -s fd/0 /dev/stdin
    ln -s fd/1 /dev/stdout
    ln -s fd/2 /dev/stderr
    umount -l "$host_dev"
    rmdir "$host_dev"
    export LUMIVOX_E2E_SANDBOX=private-dev-made
    echo "ok: Wine runs with a /dev of its own: $(ls /dev | tr '\n' ' ')"
fi
