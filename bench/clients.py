#!/usr/bin/python3
"""Display clients for the benchmark of lcm-panel.

Usage: clients.py SOCKET SECONDS [COUNT]

Sixteen clients (or COUNT), as many as the panel serves, connect to the panel's Unix
socket; each adds a screen with a label on row 1 ("client N") and a string
widget on row 2 that it sets ten times a second, the clients spread evenly
over each tenth of a second. The
paced updates run for SECONDS from the moment a client's screen first comes
into view (with COUNT given, at once: another client's menu may hold the
glass). Then the client whose screen is in view sets its widget ten times
in one write, ten times over, to show what a burst costs on the glass.

Standard output, one line at each step: "ready" (every screen made),
"in view" (the first "listen"), "paced" (the paced updates are over), then
one summary line of NAME=VALUE words. Any refusal or missing reply is an
error: exit status 1 and one line on standard error.
"""
import os
import resource
import selectors
import socket
import sys
import time

CLIENTS = 16
RATE = 10
BURSTS = 10
BURST_SETS = 10
BURST_GAP_S = 0.3
# Every wait for the panel has a bound; a loaded machine still answers well
# within it.
WAIT_S = 30.0


def fail(text):
    print("clients.py: " + text, file=sys.stderr)
    sys.exit(1)


class Client:
    def __init__(self, number, path):
        self.number = number
        self.screen = "s%d" % number
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.settimeout(WAIT_S)
        self.sock.connect(path)
        self.pending = b""
        self.successes = 0
        self.expected = 0
        self.noops = 0
        self.in_view = False
        self.sets = 0
        self.sets_in_view = 0

    def send(self, lines, replies=1):
        self.sock.sendall("".join(line + "\n" for line in lines).encode())
        self.expected += replies * len(lines)

    def take(self, data):
        if not data:
            fail("client %d: the panel closed the connection" % self.number)
        self.pending += data
        *lines, self.pending = self.pending.split(b"\n")
        for line in lines:
            if line == b"success":
                self.successes += 1
            elif line == b"noop complete":
                self.noops += 1
            elif line == b"listen " + self.screen.encode():
                self.in_view = True
            elif line == b"ignore " + self.screen.encode():
                self.in_view = False
            elif not line.startswith(b"connect "):
                fail("client %d: unexpected reply %r" % (self.number, line))

    def set_tick(self, text):
        self.send(['widget_set %s tick 1 2 "%s"' % (self.screen, text)])


def connect_all(path, count):
    deadline = time.monotonic() + WAIT_S
    while True:
        try:
            return [Client(number, path) for number in range(1, count + 1)]
        except (FileNotFoundError, ConnectionRefusedError):
            if time.monotonic() > deadline:
                fail("no panel answers on " + path)
            time.sleep(0.05)


def serve(selector, clients, until, condition=lambda: False):
    """Read whatever the panel sends until the time or the condition comes."""
    while not condition():
        left = until - time.monotonic()
        if left <= 0:
            return
        for key, _ in selector.select(left):
            key.data.take(key.fileobj.recv(65536))


def settle(selector, clients):
    """Every request so far answered, in order: a noop's reply comes last."""
    for client in clients:
        client.send(["noop"], replies=0)
    goals = [(client, client.noops + 1) for client in clients]
    serve(selector, clients, time.monotonic() + WAIT_S,
          lambda: all(client.noops >= goal for client, goal in goals))
    for client, goal in goals:
        if client.noops < goal:
            fail("client %d: no answer within %d s" % (client.number, WAIT_S))
        if client.successes != client.expected:
            fail("client %d: %d of %d requests answered success"
                 % (client.number, client.successes, client.expected))


def set_up(client):
    s = client.screen
    client.send(["hello"], replies=0)
    client.send([
        "client_set -name bench%d" % client.number,
        "screen_add " + s,
        "screen_set %s -name client%d" % (s, client.number),
        "widget_add %s label string" % s,
        'widget_set %s label 1 1 "client %d"' % (s, client.number),
        "widget_add %s tick string" % s,
    ])
    client.set_tick("tick 000000")


def paced(selector, clients, seconds, at_once):
    """Each client sets its widget RATE times a second, never catching up in
    a burst when it fell behind."""
    period = 1.0 / RATE
    start = time.monotonic()
    due = [start + i * period / len(clients) for i in range(len(clients))]
    in_view_since = start if at_once else None
    while in_view_since is None or time.monotonic() < in_view_since + seconds:
        now = time.monotonic()
        if in_view_since is None and any(c.in_view for c in clients):
            in_view_since = now
            print("in view", flush=True)
        elif in_view_since is None and now > start + WAIT_S:
            fail("no screen came into view")
        for i, client in enumerate(clients):
            if now >= due[i]:
                client.sets += 1
                client.sets_in_view += client.in_view
                client.set_tick("tick %06d" % client.sets)
                due[i] += period
                if due[i] <= now:
                    due[i] = now + period
        serve(selector, clients, min(due))
    print("paced", flush=True)


def bursts(selector, clients):
    """The screen in view gets BURST_SETS sets in one write, BURSTS times."""
    shown = [client for client in clients if client.in_view]
    if not shown:
        return 0
    for burst in range(1, BURSTS + 1):
        serve(selector, clients, time.monotonic() + BURST_GAP_S)
        shown[0].send(['widget_set %s tick 1 2 "burst %02d %02d"' % (shown[0].screen, burst, i)
                       for i in range(1, BURST_SETS + 1)])
    serve(selector, clients, time.monotonic() + BURST_GAP_S)
    return BURSTS


def main():
    if len(sys.argv) not in (3, 4):
        fail("usage: clients.py SOCKET SECONDS [COUNT]")
    path, seconds = sys.argv[1], float(sys.argv[2])
    at_once = len(sys.argv) == 4
    clients = connect_all(path, int(sys.argv[3]) if at_once else CLIENTS)
    selector = selectors.DefaultSelector()
    for client in clients:
        selector.register(client.sock, selectors.EVENT_READ, client)
        set_up(client)
    settle(selector, clients)
    print("ready", flush=True)
    paced(selector, clients, seconds, at_once)
    burst_count = bursts(selector, clients)
    settle(selector, clients)
    used = resource.getrusage(resource.RUSAGE_SELF)
    print("clients=%d sets=%d in_view=%d bursts=%d burst_sets=%d cpu_s=%.2f" % (
        len(clients), sum(c.sets for c in clients), sum(c.sets_in_view for c in clients),
        burst_count, BURST_SETS, used.ru_utime + used.ru_stime), flush=True)
    for client in clients:
        client.send(["bye"], replies=0)
        client.sock.close()


if __name__ == "__main__":
    try:
        main()
    except OSError as error:
        fail(str(error))
