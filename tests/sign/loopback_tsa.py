#!/usr/bin/env python3
"""An RFC 3161 timestamp server on loopback for the signing test.

Answers every POST with `openssl ts -reply` over the query it carries, signed
with the throwaway TSA certificate of the test's config. Writes the port it
listens on to PORT_FILE and counts the queries it answered in COUNT_FILE.
Stops by itself after LIFETIME seconds.

Usage: loopback_tsa.py OPENSSL_CONFIG WORK_DIR PORT_FILE COUNT_FILE LIFETIME
"""
import http.server
import os
import subprocess
import sys
import threading

config, work, port_file, count_file, lifetime = sys.argv[1:6]
answered = 0


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        global answered
        length = int(self.headers.get("Content-Length", "0"))
        query = os.path.join(work, "query.tsq")
        reply = os.path.join(work, "reply.tsr")
        with open(query, "wb") as f:
            f.write(self.rfile.read(length))
        made = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile", query,
                               "-out", reply], capture_output=True)
        if made.returncode != 0:
            sys.stderr.write(made.stderr.decode(errors="replace"))
            self.send_error(500)
            return
        with open(reply, "rb") as f:
            body = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)
        answered += 1
        with open(count_file, "w") as f:
            f.write(str(answered))

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
with open(port_file + ".tmp", "w") as f:
    f.write(str(server.server_address[1]))
os.replace(port_file + ".tmp", port_file)
threading.Timer(float(lifetime), server.shutdown).start()
server.serve_forever()
