#!/usr/bin/env python3
# A PJLink controller that is none of ours: the public pypjlink client library, run against
# Lumivox's PJLink face. Usage: pjlink-controller.py PYPJLINK_DIR PORT ACTION...
# The password comes from PJLINK_TEST_PASSWORD. Each action prints one line: what the
# library returned, or "error: <the projector's error>".
import os
import socket
import sys
import time

sys.path.insert(0, sys.argv[1])
from pypjlink import Projector  # noqa: E402
from pypjlink.projector import MUTE_VIDEO, ProjectorError  # noqa: E402

HOST = "127.0.0.1"
PORT = int(sys.argv[2])
PASSWORD = os.environ.get("PJLINK_TEST_PASSWORD")
WAIT = 15  # s: the service starting, the projector warming up
socket.setdefaulttimeout(WAIT)


def connected(password=PASSWORD):
    projector = Projector.from_address(HOST, PORT)
    if projector.authenticate(password) is False:
        raise ProjectorError("password refused")
    return projector


def until(wanted):
    # Asks the power state until it is `wanted` (the projector may still be unknown).
    deadline = time.monotonic() + WAIT
    while True:
        try:
            state = connected().get_power()
            if state == wanted:
                return state
        except (ProjectorError, OSError):
            state = None
        if time.monotonic() > deadline:
            return "never %s (last %s)" % (wanted, state)
        time.sleep(0.1)


def raw_request():
    # A request without the digest a password asks for.
    with socket.create_connection((HOST, PORT), timeout=WAIT) as sock:
        greeting = sock.recv(64)
        sock.sendall(b"%1POWR ?\r")
        return "%s / %s" % (greeting[:8].decode(), sock.recv(64).decode().strip())


ACTIONS = {
    "ready": lambda: until("off"),
    "on": lambda: until("on"),
    "power": lambda: connected().get_power(),
    "power-on": lambda: connected().set_power("on"),
    "power-off": lambda: connected().set_power("off"),
    "hdmi": lambda: connected().set_input("DIGITAL", 1),
    "storage": lambda: connected().set_input("STORAGE", 1),
    "input": lambda: connected().get_input(),
    "inputs": lambda: " ".join("%s%d" % i for i in connected().get_inputs()),
    "mute": lambda: connected().set_mute(MUTE_VIDEO, True),
    "lamps": lambda: connected().get_lamps(),
    "errors": lambda: connected().get_errors(),
    "model": lambda: connected().get_product_name(),
    "name": lambda: connected().get_name(),
    "wrong-password": lambda: Projector.from_address(HOST, PORT).authenticate("not it"),
    "no-password": lambda: Projector.from_address(HOST, PORT).authenticate(),
    "no-digest": raw_request,
}

for action in sys.argv[3:]:
    try:
        result = ACTIONS[action]()
        print("ok" if result is None else result)
    except ProjectorError as error:
        print("error: %s" % error)
    except RuntimeError as error:
        print("refused: %s" % error)
    sys.stdout.flush()
