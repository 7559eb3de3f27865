#!/usr/bin/env python3
"""Asks the command server for the listing of one media folder, as a phone app does, and prints
the seconds until the whole reply line arrived and its size in bytes.

    phone_listing.py <folder> [port]
"""
import json
import socket
import sys
import time


def main():
    folder = sys.argv[1]
    port = int(sys.argv[2]) if len(sys.argv) > 2 else 8888
    request = json.dumps({"command": "mediaexplore", "params": {"path": folder}}).encode() + b"\n"
    with socket.create_connection(("127.0.0.1", port)) as phone:
        phone.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        time.sleep(0.2)  # the server announces the phone before it reads
        start = time.monotonic()
        phone.sendall(request)
        chunks = []
        while True:
            chunk = phone.recv(1 << 20)
            if not chunk:
                raise SystemExit("phone_listing.py: the server closed the connection")
            chunks.append(chunk)
            if chunk.endswith(b"\n"):
                break
        took = time.monotonic() - start
    reply = json.loads(b"".join(chunks))
    files = reply["params"]["packet"]["statistics"]["fileCount"]
    print(f"{took:.3f} {sum(len(c) for c in chunks)} {files}")


if __name__ == "__main__":
    main()
