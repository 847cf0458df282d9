#!/usr/bin/python3
"""Runs a command and shows its progress on the display, through lcm-panel.

usage: progress.py TITLE COMMAND [ARGUMENT...]

The top row shows TITLE, the bottom row the last line the command printed
(its output also goes on to standard output). The screen joins the panel's
ring after its pages; while it is in view, Left stops the command
(SIGTERM). At the end an alert tells how it went until a button is pressed.
The exit status is the command's (128+N when signal N ended it).
"""
import os
import re
import selectors
import socket
import subprocess
import sys

PATH = os.environ.get("LCM_PANEL_SOCKET", "/run/lcm-panel/ttyS1.sock")
EVENTS = (b"listen", b"ignore", b"key")


def quote(text):
    return b'"' + text.replace(b"\\", b"\\\\").replace(b'"', b'\\"') + b'"'


class Panel:
    """One connection: replies to requests and events share it."""

    def __init__(self, path):
        self.socket = socket.socket(socket.AF_UNIX)
        self.socket.connect(path)
        self.received, self.replies, self.events = b"", [], []

    def receive(self):
        data = self.socket.recv(4096)
        if not data:
            sys.exit("progress.py: lcm-panel closed the connection")
        *lines, self.received = (self.received + data).split(b"\n")
        for line in lines:
            is_event = line.split(b" ")[0] in EVENTS
            (self.events if is_event else self.replies).append(line)

    def request(self, line):
        self.socket.sendall(line + b"\n")
        while not self.replies:
            self.receive()
        reply = self.replies.pop(0)
        if reply.startswith(b"huh?"):
            reason = reply.decode(errors="replace")
            sys.exit("progress.py: lcm-panel: " + reason)
        return reply


def run(title, command):
    panel = Panel(PATH)
    panel.request(b"hello")
    panel.request(b"client_set -name progress")
    panel.request(b"screen_add job")
    # One option a request: the panel answers each option on a line of its own.
    panel.request(b"screen_set job -priority info")
    panel.request(b"widget_add job label string")
    panel.request(b"widget_set job label 1 1 " + quote(title))
    panel.request(b"widget_add job value string")
    # Shared: Left comes here only while the screen is in view, else it pages.
    panel.request(b"client_add_key -shared Left")

    job = subprocess.Popen(command, stdout=subprocess.PIPE)
    watch = selectors.DefaultSelector()
    watch.register(panel.socket, selectors.EVENT_READ)
    watch.register(job.stdout, selectors.EVENT_READ)
    output, cancelled = b"", False
    while not cancelled:
        ready = [key.fileobj for key, _ in watch.select()]
        if panel.socket in ready:
            panel.receive()
        if job.stdout in ready:
            data = os.read(job.stdout.fileno(), 4096)
            if not data:
                break
            sys.stdout.buffer.write(data)
            sys.stdout.flush()
            # Progress meters end their lines with a carriage return.
            *lines, output = re.split(rb"[\r\n]", output + data)
            if any(lines):
                value = [line for line in lines if line][-1]
                panel.request(b"widget_set job value 1 2 " + quote(value))
        cancelled = b"key Left" in panel.events
        panel.events.clear()
    if cancelled:
        job.terminate()
    job.stdout.close()
    status = job.wait()
    status = status if status >= 0 else 128 - status
    outcome = b"done" if status == 0 else b"failed %d" % status
    outcome = b"cancelled" if cancelled else outcome
    sys.stderr.buffer.write(b"progress.py: %s: %s\n" % (title, outcome))
    # From now on a press on Left dismisses the alert like any other.
    panel.request(b"client_del_key Left")
    panel.request(b"screen_add end")
    panel.request(b"widget_add end label string")
    panel.request(b"widget_set end label 1 1 " + quote(title))
    panel.request(b"widget_add end outcome string")
    panel.request(b"widget_set end outcome 1 2 " + quote(outcome))
    panel.request(b"screen_set end -priority alert")
    # A press dismisses the alert: the panel says "ignore end" as it goes.
    while b"ignore end" not in panel.events:
        panel.receive()
    panel.socket.sendall(b"bye\n")
    return status


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__.split("\n\n")[1])
    try:
        sys.exit(run(os.fsencode(sys.argv[1]), sys.argv[2:]))
    except OSError as error:
        sys.exit(f"progress.py: {error}")
