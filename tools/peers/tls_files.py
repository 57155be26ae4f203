#!/usr/bin/env python3
"""Serves a folder over HTTPS on 127.0.0.1 (GET and HEAD).

  tls_files.py --port N --cert C --key K --root DIR
"""
import argparse
import functools
import http.server
import ssl

p = argparse.ArgumentParser()
p.add_argument("--port", type=int, required=True)
p.add_argument("--cert", required=True)
p.add_argument("--key", required=True)
p.add_argument("--root", required=True)
a = p.parse_args()
handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=a.root)
server = http.server.ThreadingHTTPServer(("127.0.0.1", a.port), handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(a.cert, a.key)
server.socket = context.wrap_socket(server.socket, server_side=True)
server.serve_forever()
