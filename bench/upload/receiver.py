# A plain HTTP receiver to compare with: streams each POST body of Content-Length bytes into a
# new file of the folder in 1 MiB reads, syncs it, answers 200. Single-threaded, like Velmora's.
#   python3 receiver.py <port> <folder>
import http.server
import os
import sys


class Receiver(http.server.BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'
    count = 0

    def do_POST(self):
        remaining = int(self.headers['Content-Length'])
        Receiver.count += 1
        path = os.path.join(sys.argv[2], f'received-{Receiver.count}')
        with open(path, 'wb') as out:
            while remaining > 0:
                chunk = self.rfile.read(min(remaining, 1 << 20))
                if not chunk:
                    break
                out.write(chunk)
                remaining -= len(chunk)
            out.flush()
            os.fsync(out.fileno())
        self.send_response(200)
        self.send_header('Content-Length', '0')
        self.end_headers()

    def log_message(self, *args):
        pass


http.server.HTTPServer(('127.0.0.1', int(sys.argv[1])), Receiver).serve_forever()
