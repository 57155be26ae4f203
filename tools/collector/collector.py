#!/usr/bin/env python3
"""Analytics collector for tests and the demo: an independent receiver of
the installer's batch posts.

Data port: POST <any path> with the body "data_list=<percent(Base64(gzip(JSON
array)))>&gzip=1". The body is decoded here from scratch (percent-decoding,
Base64, gunzip, JSON) and every accepted batch is kept with its request line
and headers. Answers 200, or the next scripted fault.

Control port (plain HTTP, loopback):
  GET  /batches          every accepted batch: [{"path", "user_agent", "content_type", "records": [...]}]
  GET  /requests         every data request: [{"answer", "count", "error"}]
                         ("sent": body bytes written, for "endless")
  POST /script           body: comma-separated answers used by the next data
                         requests in turn: "ok", "500", "400" (refused as a
                         client error), "hang" (no answer for 10 s),
                         "garbage" (non-HTTP bytes, then close), "endless"
                         (status 500 with a body that never ends)
  POST /down, POST /up   stop listening on the data port (connections are
                         refused), listen again on the same port
  POST /reset            forget batches, requests and script

TLS data ports (--tls PORT:CERT:KEY, repeatable) answer like the data port
with the given certificate; tests use them to prove certificate checks.
"""
import argparse
import base64
import gzip
import json
import socket
import ssl
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

lock = threading.Lock()
state = {"batches": [], "requests": [], "script": []}


def decode(body: bytes):
    """Returns the records of one post body, or raises ValueError."""
    fields = {}
    for part in body.split(b"&"):
        key, _, value = part.partition(b"=")
        fields[key] = value
    if fields.get(b"gzip") != b"1" or b"data_list" not in fields:
        raise ValueError("not a gzip data_list form")
    b64 = urllib.parse.unquote_to_bytes(fields[b"data_list"])
    raw = gzip.decompress(base64.b64decode(b64, validate=True))
    records = json.loads(raw.decode("utf-8"))
    if not isinstance(records, list):
        raise ValueError("batch is not a JSON array")
    return records


class DataHandler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length)
        with lock:
            answer = state["script"].pop(0) if state["script"] else "ok"
        entry = {"answer": answer, "count": 0, "error": ""}
        if answer == "hang":
            with lock:
                state["requests"].append(entry)
            time.sleep(10)
            self.close_connection = True
            return
        if answer == "garbage":
            with lock:
                state["requests"].append(entry)
            self.wfile.write(b"\x00\xffnot http at all\r\n\r\n")
            self.close_connection = True
            return
        if answer == "endless":
            with lock:
                state["requests"].append(entry)
            self.send_response(500)
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            chunk = b"x" * 65536
            deadline = time.time() + 30
            entry["sent"] = 0
            try:
                while time.time() < deadline:
                    self.wfile.write(b"%x\r\n%s\r\n" % (len(chunk), chunk))
                    with lock:
                        entry["sent"] += len(chunk)
            except OSError:
                pass  # the client gave up reading, as it should
            self.close_connection = True
            return
        status = {"500": 500, "400": 400}.get(answer, 200)
        if status == 200:
            try:
                records = decode(body)
                entry["count"] = len(records)
                batch = {"path": self.path, "user_agent": self.headers.get("User-Agent", ""),
                         "content_type": self.headers.get("Content-Type", ""), "records": records}
            except Exception as e:  # a malformed post is refused, never kept
                status, entry["error"] = 400, str(e)
        with lock:
            state["requests"].append(entry)
            if status == 200:
                state["batches"].append(batch)
        reply = b"ok" if status == 200 else b"refused"
        self.send_response(status)
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)


class DataServer:
    def __init__(self, port, tls=None):
        self.port, self.server, self.tls = port, None, tls

    def up(self):
        if self.server:
            return
        server = ThreadingHTTPServer(("127.0.0.1", self.port), DataHandler, bind_and_activate=False)
        server.daemon_threads = True
        server.allow_reuse_address = True
        server.server_bind()
        server.server_activate()
        if self.tls:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(*self.tls)
            server.socket = context.wrap_socket(server.socket, server_side=True)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        self.server = server

    def down(self):
        if self.server:
            self.server.shutdown()
            self.server.server_close()
            self.server = None


def control_handler(data):
    class Control(BaseHTTPRequestHandler):
        def log_message(self, *args):
            pass

        def reply(self, obj):
            payload = json.dumps(obj, ensure_ascii=False).encode("utf-8")
            self.send_response(200)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(payload)))
            self.end_headers()
            self.wfile.write(payload)

        def do_GET(self):
            with lock:
                if self.path == "/batches":
                    return self.reply(state["batches"])
                if self.path == "/requests":
                    return self.reply(state["requests"])
            self.send_error(404)

        def do_POST(self):
            body = self.rfile.read(int(self.headers.get("Content-Length", "0"))).decode()
            if self.path == "/script":
                with lock:
                    state["script"] = [a.strip() for a in body.split(",") if a.strip()]
            elif self.path == "/down":
                data.down()
            elif self.path == "/up":
                data.up()
            elif self.path == "/reset":
                with lock:
                    state.update(batches=[], requests=[], script=[])
            else:
                return self.send_error(404)
            self.reply({"ok": True})
    return Control


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--control-port", type=int, required=True)
    ap.add_argument("--tls", action="append", default=[], metavar="PORT:CERT:KEY")
    args = ap.parse_args()
    data = DataServer(args.port)
    data.up()
    for listener in args.tls:
        port, cert, key = listener.split(":", 2)
        DataServer(int(port), (cert, key)).up()
    control = ThreadingHTTPServer(("127.0.0.1", args.control_port), control_handler(data))
    control.daemon_threads = True
    control.serve_forever()


if __name__ == "__main__":
    main()
