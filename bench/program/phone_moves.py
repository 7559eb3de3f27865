#!/usr/bin/env python3
"""Plays a phone moving the pointer: "mousemove" lines to the command server at a steady rate.

    phone_moves.py <seconds> [moves per second] [port]
"""
import socket
import sys
import time


def main():
    seconds = float(sys.argv[1])
    rate = float(sys.argv[2]) if len(sys.argv) > 2 else 240.0
    port = int(sys.argv[3]) if len(sys.argv) > 3 else 8888
    # Back and forth, so that the pointer stays where it is over any even number of moves.
    lines = [b'{"command":"mousemove","params":{"dx":%d,"dy":0}}\n' % dx for dx in (3, -3)]
    with socket.create_connection(("127.0.0.1", port)) as phone:
        phone.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        start = time.monotonic()
        sent = 0
        while True:
            due = start + sent / rate
            now = time.monotonic()
            if due - start >= seconds:
                break
            if due > now:
                time.sleep(due - now)
            phone.sendall(lines[sent % 2])
            sent += 1
    print(sent)


if __name__ == "__main__":
    main()
