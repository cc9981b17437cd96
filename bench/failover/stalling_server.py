#!/usr/bin/env python3
"""A pack host that stops sending halfway, as a host whose disk or uplink hangs.

    stalling_server.py <root> <host:port> <path> <stall at byte> <log> [hold seconds]

Serves the files under <root> for GET and HEAD as a static server does (one
range per request, Content-MD5 as 32 lower-case hex digits, as vexa-server
sends it). Bytes of <path> at or past <stall at byte> are never sent: an
answer that reaches them keeps its connection open and silent until the
client gives up, or for [hold seconds] (15 unless given; more than the
client's receive time-out, so that it finds silence, not a closed
connection). Each answer appends "<method> <path> <status> <bytes sent>
<range or ->" to <log> once it ends, so a benchmark counts what really left.
Loopback only; for tests and benchmarks.
"""
import hashlib
import http.server
import os
import re
import sys
import threading
import time

ROOT, LISTEN, STALL_PATH, STALL_AT, LOG = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5]
HOLD_SECONDS = float(sys.argv[6]) if len(sys.argv) > 6 else 15
log_lock = threading.Lock()
digests = {}


def digest_of(path):
    stat = os.stat(path)
    key = (path, stat.st_size, stat.st_mtime_ns)
    if key not in digests:
        md5 = hashlib.md5()
        with open(path, "rb") as f:
            for block in iter(lambda: f.read(1 << 20), b""):
                md5.update(block)
        digests[key] = md5.hexdigest()
    return digests[key]


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def note(self, status, sent, wanted):
        with log_lock, open(LOG, "a") as out:
            out.write(f"{self.command} {self.path} {status} {sent} {wanted or '-'}\n")

    def do_HEAD(self):
        self.answer(False)

    def do_GET(self):
        self.answer(True)

    def answer(self, with_body):
        path = os.path.realpath(os.path.join(ROOT, self.path.split("?")[0].lstrip("/")))
        if not path.startswith(os.path.realpath(ROOT) + os.sep) or not os.path.isfile(path):
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.end_headers()
            self.note(404, 0, None)
            return
        size = os.path.getsize(path)
        first, last, status = 0, size - 1, 200
        wanted = self.headers.get("Range")
        match = re.fullmatch(r"bytes=(\d*)-(\d*)", wanted or "")
        if match and (match.group(1) or match.group(2)):
            if match.group(1):
                first = int(match.group(1))
                last = min(int(match.group(2)), size - 1) if match.group(2) else size - 1
            else:
                first, last = max(0, size - int(match.group(2))), size - 1
            if first >= size or first > last:
                self.send_response(416)
                self.send_header("Content-Range", f"bytes */{size}")
                self.send_header("Content-Length", "0")
                self.end_headers()
                self.note(416, 0, wanted)
                return
            status = 206
        self.send_response(status)
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("Content-Length", str(last - first + 1))
        self.send_header("Content-MD5", digest_of(path))
        if status == 206:
            self.send_header("Content-Range", f"bytes {first}-{last}/{size}")
        self.end_headers()
        sent = 0
        if with_body:
            stall = STALL_AT if self.path.split("?")[0] == STALL_PATH else size
            try:
                with open(path, "rb") as f:
                    f.seek(first)
                    at = first
                    while at <= last and at < stall:
                        block = f.read(min(65536, last + 1 - at, stall - at))
                        if not block:
                            break
                        self.wfile.write(block)
                        sent += len(block)
                        at += len(block)
                    self.wfile.flush()
                    if at <= last:
                        # Silent, not closed: the client must find out by its time-out.
                        self.note(status, sent, wanted)
                        deadline = time.time() + HOLD_SECONDS
                        while time.time() < deadline:
                            time.sleep(0.5)
                        self.close_connection = True
                        return
            except (BrokenPipeError, ConnectionResetError):
                self.close_connection = True
        self.note(status, sent, wanted)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


host, port = LISTEN.rsplit(":", 1)
server = Server((host, int(port)), Handler)
print(f"listening on {LISTEN}", flush=True)
server.serve_forever()
