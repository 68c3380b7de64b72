#!/usr/bin/env python3
"""timestamp_service.py FOLDER: an RFC 3161 time-stamp service on the loopback address for the signing
test, which answers every POSTed query with `openssl ts -reply` and the configuration FOLDER/tsa.cnf.
It writes the port that it listens on to FOLDER/port once it is ready, and serves until terminated."""
import http.server
import pathlib
import subprocess
import sys

folder = pathlib.Path(sys.argv[1])


class TimeStamps(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        reply = subprocess.run(["openssl", "ts", "-reply", "-config", "tsa.cnf", "-queryfile", "/dev/stdin",
                                "-out", "/dev/stdout"], cwd=folder, input=query, capture_output=True)
        if reply.returncode != 0 or not reply.stdout:
            self.send_error(500, reply.stderr.decode(errors="replace"))
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply.stdout)))
        self.end_headers()
        self.wfile.write(reply.stdout)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), TimeStamps)
(folder / "port").write_text(str(server.server_port))
server.serve_forever()
