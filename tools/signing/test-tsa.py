#!/usr/bin/env python3
"""A test RFC 3161 timestamp authority on 127.0.0.1 (openssl ts answers).

  test-tsa.py <dir> <port>   makes its authority in <dir> when missing
                              (tsa-ca.crt verifies its answers) and serves
                              until killed.
"""
import http.server
import os
import subprocess
import sys
import tempfile

CONFIG = """[tsa]
default_tsa = tsa_config
[tsa_config]
serial = ./serial
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha1
ess_cert_id_chain = no
accuracy = secs:1
tsa_name = no
"""


def make_authority(d):
    if os.path.exists(os.path.join(d, "tsa.crt")):
        return
    os.makedirs(d, exist_ok=True)
    run = lambda *a: subprocess.run(a, cwd=d, check=True, capture_output=True)
    open(os.path.join(d, "tsa.cnf"), "w").write(CONFIG)
    open(os.path.join(d, "serial"), "w").write("01\n")
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "tsa-ca.key", "-out", "tsa-ca.crt",
        "-days", "2", "-subj", "/CN=OndraVelqor Test TSA CA", "-addext", "basicConstraints=critical,CA:true",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    run("openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", "tsa.key", "-out", "tsa.csr",
        "-subj", "/CN=OndraVelqor Test TSA")
    open(os.path.join(d, "tsa.ext"), "w").write(
        "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n")
    run("openssl", "x509", "-req", "-in", "tsa.csr", "-CA", "tsa-ca.crt", "-CAkey", "tsa-ca.key", "-CAcreateserial",
        "-days", "2", "-extfile", "tsa.ext", "-out", "tsa.crt")


def serve(d, port):
    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            query = self.rfile.read(int(self.headers["Content-Length"]))
            with tempfile.TemporaryDirectory() as t:
                q, r = os.path.join(t, "q.tsq"), os.path.join(t, "r.tsr")
                open(q, "wb").write(query)
                subprocess.run(["openssl", "ts", "-reply", "-config", "tsa.cnf", "-queryfile", q, "-inkey", "tsa.key",
                                "-signer", "tsa.crt", "-out", r], cwd=d, check=True, capture_output=True)
                reply = open(r, "rb").read()
            self.send_response(200)
            self.send_header("Content-Type", "application/timestamp-reply")
            self.send_header("Content-Length", str(len(reply)))
            self.end_headers()
            self.wfile.write(reply)

        def log_message(self, *args):
            pass

    http.server.HTTPServer(("127.0.0.1", port), Handler).serve_forever()


if __name__ == "__main__":
    make_authority(sys.argv[1])
    serve(sys.argv[1], int(sys.argv[2]))
