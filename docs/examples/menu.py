#!/usr/bin/python3
"""Offers a menu on the display, through lcm-panel, and prints what is done with it.

usage: menu.py

Right on the pages opens the panel's main menu; the entry "menu.py" leads
to a checkbox, a ring, a slider, a number, a name, an address and a
submenu. Every menuevent line the panel sends is printed as it comes;
choosing Quit ends the client.
"""
import os
import socket
import sys

PATH = os.environ.get("LCM_PANEL_SOCKET", "/run/lcm-panel/ttyS1.sock")
MENU = [
    b"client_set -name menu.py",
    b'menu_add_item "" beep checkbox Beep -value on',
    b'menu_add_item "" mode ring Mode -strings "Eco\\tNormal\\tFast" -value 1',
    b'menu_add_item "" volume slider Volume -value 50 -stepsize 10',
    b'menu_add_item "" port numeric Port -maxvalue 65535 -value 8080',
    b'menu_add_item "" more menu More',
    b'menu_add_item more name alpha Name -value BOX',
    b'menu_add_item more address ip Address -value 192.168.1.2',
    b'menu_add_item "" quit action Quit -menu_result quit',
]


def main():
    panel = socket.socket(socket.AF_UNIX)
    panel.connect(PATH)
    lines = panel.makefile("rb")
    for request in [b"hello"] + MENU:
        panel.sendall(request + b"\n")
        # Events may come between the replies once the first item is there.
        line = lines.readline()
        while line.startswith(b"menuevent "):
            print(line.decode().rstrip(), flush=True)
            line = lines.readline()
        if not line:
            sys.exit("menu.py: lcm-panel closed the connection")
        if line.startswith(b"huh?"):
            sys.exit("menu.py: lcm-panel: " + line.decode(errors="replace").rstrip())
    print("menu.py: Right on the pages opens the menu", file=sys.stderr, flush=True)
    for line in lines:
        if line.startswith(b"menuevent "):
            print(line.decode().rstrip(), flush=True)
        if line == b"menuevent select quit\n":
            panel.sendall(b"bye\n")
            return
    sys.exit("menu.py: lcm-panel closed the connection")


if __name__ == "__main__":
    try:
        main()
    except OSError as error:
        sys.exit(f"menu.py: {error}")
