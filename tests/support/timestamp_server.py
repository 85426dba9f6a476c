#!/usr/bin/env python3
"""An RFC 3161 timestamp server for the tests, on 127.0.0.1: each request POSTed to it is
answered by `openssl ts -reply` with the TSA certificate and key its OpenSSL configuration names.

    timestamp_server.py CONFIG PORTFILE

It listens on a port the system picks (so two runs never collide) and writes that port to
PORTFILE once it listens; it serves until it is stopped (SIGTERM)."""

import http.server
import os
import subprocess
import sys
import tempfile


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with tempfile.TemporaryDirectory() as tmp:
            query_file = os.path.join(tmp, "query.tsq")
            reply_file = os.path.join(tmp, "reply.tsr")
            with open(query_file, "wb") as f:
                f.write(query)
            done = subprocess.run(
                ["openssl", "ts", "-reply", "-config", sys.argv[1], "-queryfile", query_file,
                 "-out", reply_file], capture_output=True)
            if done.returncode != 0:
                sys.stderr.write(done.stderr.decode(errors="replace"))
                self.send_error(500, "openssl ts -reply failed")
                return
            with open(reply_file, "rb") as f:
                reply = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: timestamp_server.py CONFIG PORTFILE")
    server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
    # Written whole, then renamed: a reader never sees half a port.
    with open(sys.argv[2] + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(sys.argv[2] + ".tmp", sys.argv[2])
    server.serve_forever()


if __name__ == "__main__":
    main()
