#!/usr/bin/env python3
"""Fault-injecting HTTP server for the download tests (127.0.0.1 only).

A test registers a scenario, then requests any path under /s/<name>/...:

  POST /_scenario   {"name": "x", "size": 2097152, "seed": 1, "virtual": false,
                     "file": "/host/path", "head": [step, ...], "get": [step, ...]}
       -> {"md5": "<md5 of the content>"}
  GET  /_log/<name> -> [{"method", "path", "range", "accept_encoding"}, ...]

The content is `size` pseudo-random bytes from `seed`; with "virtual" it is
byte i = i % 251, generated per request (for sizes beyond memory; no md5); with
"file" it is that host file (a real package to install). Each HEAD or GET
request takes the next step of its list (the last one repeats; no list means
normal serving with ranges). A step is an object with any of:
  status: N          answer N with a small HTML body (no content)
  redirect: "loc"    302 to loc ("self" redirects to the same path: a loop)
  ignore_range       answer 200 with the whole content even to a Range request,
                     without "Accept-Ranges" (a server without ranges)
  cut: N             close the connection after N body bytes
  stall: N           after N body bytes send nothing more, keep the connection
  length: N          announce Content-Length N whatever the body is
  no_length          no Content-Length; the body ends when the connection closes
  gzip               gzip the body when the request accepts gzip
  garbage            a garbage status line instead of HTTP
  html: N            answer 200 with an N-byte HTML page instead of the content
                     (a captive portal's sign-in page), typed text/html
  type: "t"          the Content-Type of the answer (with html: a page sent as "t")
  silent             accept the request and never answer, keeping the connection
  close              close the connection without answering
  corrupt: N         flip the body's byte at offset N (a wrong file of the right length)
"""
import gzip
import hashlib
import json
import os
import random
import socket
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

SCENARIOS = {}
LOCK = threading.Lock()


class VirtualContent:
    def __init__(self, size):
        self.size = size

    def __len__(self):
        return self.size

    def __getitem__(self, s):
        first, last, _ = s.indices(self.size)
        return bytes(i % 251 for i in range(first, last))


FILES = {}  # (path, size, mtime) -> (bytes, md5)


def file_content(path):
    """A host file's bytes, read once: a soak registers thousands of scenarios
    that serve the same package, and a copy each grew the server by the
    package's size per scenario (23 GB after 10,000)."""
    st = os.stat(path)
    key = (path, st.st_size, st.st_mtime_ns)
    with LOCK:
        if key not in FILES:
            with open(path, "rb") as f:
                data = f.read()
            FILES[key] = (data, hashlib.md5(data).hexdigest())
        return FILES[key]


class Scenario:
    def __init__(self, scenario):
        self.name = scenario["name"]
        if "file" in scenario:
            self.content, self.md5 = file_content(scenario["file"])
        elif scenario.get("virtual"):
            self.content = VirtualContent(scenario.get("size", 0))
            self.md5 = ""
        else:
            self.content = random.Random(scenario.get("seed", 1)).randbytes(scenario.get("size", 0))
            self.md5 = hashlib.md5(self.content).hexdigest()
        self.steps = {"HEAD": list(scenario.get("head", [])), "GET": list(scenario.get("get", []))}
        self.log = []

    def next_step(self, method):
        steps = self.steps[method]
        if not steps:
            return {}
        return steps.pop(0) if len(steps) > 1 else steps[0]


def parse_range(header, size):
    """(first, last) of a "bytes=a-b" / "bytes=a-" header, None when absent or odd."""
    if not header or not header.startswith("bytes="):
        return None
    scenario = header[6:].split(",")[0].strip()
    first, _, last = scenario.partition("-")
    if not first.isdigit():
        return None
    first = int(first)
    last = int(last) if last.isdigit() else size - 1
    return first, min(last, size - 1)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply_json(self, obj):
        body = json.dumps(obj).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_POST(self):
        if self.path != "/_scenario":
            self.send_error(404)
            return
        scenario = json.loads(self.rfile.read(int(self.headers.get("Content-Length", 0))))
        scenario = Scenario(scenario)
        with LOCK:
            SCENARIOS[scenario.name] = scenario
        self.reply_json({"md5": scenario.md5})

    def do_HEAD(self):
        self.serve("HEAD")

    def do_GET(self):
        if self.path.startswith("/_log/"):
            with LOCK:
                scenario = SCENARIOS.get(self.path[6:])
                self.reply_json(list(scenario.log) if scenario else [])
            return
        self.serve("GET")

    def serve(self, method):
        parts = self.path.split("/")
        with LOCK:
            scenario = SCENARIOS.get(parts[2]) if len(parts) > 2 and parts[1] == "s" else None
            if scenario:
                scenario.log.append({"method": method, "path": self.path,
                                     "range": self.headers.get("Range", ""),
                                     "accept_encoding": self.headers.get("Accept-Encoding", "")})
                step = scenario.next_step(method)
        if not scenario:
            self.send_error(404)
            return
        if step.get("close"):
            self.close_connection = True
            return
        if step.get("silent"):
            self.close_connection = True
            self.stall()
            return
        if step.get("garbage"):
            self.wfile.write(b"GARBAGE \x01\x02 NOT HTTP\r\n\r\n")
            self.close_connection = True
            return
        if "redirect" in step:
            location = self.path if step["redirect"] == "self" else step["redirect"]
            self.send_response(302)
            self.send_header("Location", location)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if "status" in step:
            body = b"<html><body>error</body></html>"
            self.send_response(step["status"])
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            if method == "GET":
                self.wfile.write(body)
            return

        content = scenario.content
        status, headers = 200, {}
        if "html" in step:
            page = b"<!DOCTYPE html><html><body>" + b"x" * max(step["html"] - 43, 0) + b"</body></html>"
            content = page[:step["html"]]
            headers["Content-Type"] = "text/html"
        if "type" in step:
            headers["Content-Type"] = step["type"]
        requested = None if step.get("ignore_range") else parse_range(self.headers.get("Range"), len(content))
        if requested:
            first, last = requested
            if first >= len(content) or first > last:
                self.send_response(416)
                self.send_header("Content-Range", "bytes */%d" % len(content))
                self.send_header("Content-Length", "0")
                self.end_headers()
                return
            status = 206
            headers["Content-Range"] = "bytes %d-%d/%d" % (first, last, len(content))
            content = content[first:last + 1]
        if "corrupt" in step and step["corrupt"] < len(content):
            content = bytearray(content)
            content[step["corrupt"]] ^= 0xFF
            content = bytes(content)
        if step.get("gzip") and "gzip" in self.headers.get("Accept-Encoding", ""):
            content = gzip.compress(content, 1)
            headers["Content-Encoding"] = "gzip"
        self.send_response(status)
        for k, v in headers.items():
            self.send_header(k, v)
        if step.get("no_length"):
            self.close_connection = True
            self.send_header("Connection", "close")
        else:
            self.send_header("Content-Length", str(step.get("length", len(content))))
        if not step.get("ignore_range"):
            self.send_header("Accept-Ranges", "bytes")
        self.end_headers()
        if method == "HEAD":
            return
        self.send_body(content, step)

    def send_body(self, content, step):
        limit = len(content)
        for key in ("cut", "stall"):
            if key in step:
                limit = min(limit, step[key])
        view = content if isinstance(content, VirtualContent) else memoryview(content)
        try:
            for i in range(0, limit, 65536):
                self.wfile.write(view[i:min(i + 65536, limit)])
            self.wfile.flush()
            if "stall" in step and step["stall"] < len(content):
                self.stall()
        except OSError:
            pass
        if limit < len(content) or step.get("no_length") or "length" in step:
            self.close_connection = True

    def stall(self):
        # Hold the connection open, sending nothing, until the client gives up.
        self.connection.settimeout(1)
        deadline = time.time() + 600
        while time.time() < deadline:
            try:
                if not self.connection.recv(1, socket.MSG_PEEK):
                    return
            except socket.timeout:
                continue
            except OSError:
                return


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True


if __name__ == "__main__":
    server = Server(("127.0.0.1", int(sys.argv[1])), Handler)
    server.serve_forever()
