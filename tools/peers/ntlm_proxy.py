#!/usr/bin/env python3
"""An HTTP proxy on 127.0.0.1 that demands NTLM (NTLMv2) authentication.

  ntlm_proxy.py --port N --user U --password P --log FILE

Plain HTTP only (absolute-URI requests, no CONNECT). Each connection goes
through the three NTLM steps: no credentials -> 407 "NTLM"; negotiate ->
407 with a challenge; authenticate -> the response is checked against the
user's password; a good one relays the request to its server, a bad one
answers 407 again. Every step goes to the log: "CHALLENGE", "OK <user>
<method> <url>", "REFUSED <user> <why>".
"""
import argparse
import base64
import hashlib
import hmac
import http.client
import http.server
import os
import struct
import urllib.parse


def md4(data):
    """MD4 (RFC 1320): OpenSSL 3 no longer offers it by default."""
    def f(x, y, z): return (x & y) | (~x & z)
    def g(x, y, z): return (x & y) | (x & z) | (y & z)
    def h(x, y, z): return x ^ y ^ z
    def rol(v, s): return ((v << s) | (v >> (32 - s))) & 0xFFFFFFFF
    msg = bytearray(data) + b"\x80"
    while len(msg) % 64 != 56:
        msg += b"\0"
    msg += struct.pack("<Q", len(data) * 8)
    a, b, c, d = 0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476
    for off in range(0, len(msg), 64):
        x = struct.unpack("<16I", msg[off:off + 64])
        aa, bb, cc, dd = a, b, c, d
        for i in range(16):
            k, s = i, (3, 7, 11, 19)[i % 4]
            a, b, c, d = d, rol((a + f(b, c, d) + x[k]) & 0xFFFFFFFF, s), b, c
        for i in range(16):
            k, s = (i % 4) * 4 + i // 4, (3, 5, 9, 13)[i % 4]
            a, b, c, d = d, rol((a + g(b, c, d) + x[k] + 0x5A827999) & 0xFFFFFFFF, s), b, c
        for i in range(16):
            k = (0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15)[i]
            s = (3, 9, 11, 15)[i % 4]
            a, b, c, d = d, rol((a + h(b, c, d) + x[k] + 0x6ED9EBA1) & 0xFFFFFFFF, s), b, c
        a, b, c, d = (a + aa) & 0xFFFFFFFF, (b + bb) & 0xFFFFFFFF, (c + cc) & 0xFFFFFFFF, (d + dd) & 0xFFFFFFFF
    return struct.pack("<4I", a, b, c, d)


def field(msg, at):
    length, _, offset = struct.unpack_from("<HHI", msg, at)
    return msg[offset:offset + length]


def challenge_message(challenge):
    target = "TEST".encode("utf-16-le")
    info = (struct.pack("<HH", 2, len(target)) + target + struct.pack("<HH", 1, len("PROXY") * 2) +
            "PROXY".encode("utf-16-le") + struct.pack("<HH", 0, 0))
    flags = 0x00000001 | 0x00000004 | 0x00000200 | 0x00008000 | 0x00010000 | 0x00080000 | 0x00800000 | 0xA0000000
    head = 48
    return (b"NTLMSSP\0" + struct.pack("<I", 2) + struct.pack("<HHI", len(target), len(target), head) +
            struct.pack("<I", flags) + challenge + b"\0" * 8 +
            struct.pack("<HHI", len(info), len(info), head + len(target)) + target + info)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--user", required=True)
    p.add_argument("--password", required=True)
    p.add_argument("--log", required=True)
    a = p.parse_args()
    nt_hash = md4(a.password.encode("utf-16-le"))

    def log(line):
        with open(a.log, "a") as out:
            out.write(line + "\n")

    class Proxy(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"
        challenge = None  # per connection: NTLM authenticates the connection

        def log_message(self, *args):
            pass

        def deny(self, token=None):
            self.send_response(407)
            self.send_header("Proxy-Authenticate", "NTLM" + (" " + token if token else ""))
            self.send_header("Content-Length", "0")
            self.end_headers()

        def check(self, msg):
            user = field(msg, 36).decode("utf-16-le")
            domain = field(msg, 28).decode("utf-16-le")
            nt = field(msg, 20)
            if self.challenge is None or len(nt) <= 24:
                return user, "not an NTLMv2 answer to our challenge (%d bytes)" % len(nt)
            if user.lower() != a.user.lower():
                return user, "unknown user"
            key = hmac.new(nt_hash, (user.upper() + domain).encode("utf-16-le"), hashlib.md5).digest()
            proof = hmac.new(key, self.challenge + nt[16:], hashlib.md5).digest()
            return user, None if hmac.compare_digest(proof, nt[:16]) else "wrong password"

        def relay(self):
            auth = self.headers.get("Proxy-Authorization", "")
            if not auth.startswith("NTLM "):
                return self.deny()
            msg = base64.b64decode(auth[5:])
            kind = struct.unpack_from("<I", msg, 8)[0]
            if kind == 1:
                self.challenge = os.urandom(8)
                log("CHALLENGE")
                return self.deny(base64.b64encode(challenge_message(self.challenge)).decode())
            user, why = self.check(msg)
            if why:
                log("REFUSED %s %s" % (user, why))
                return self.deny()
            log("OK %s %s %s" % (user, self.command, self.path))
            url = urllib.parse.urlsplit(self.path)
            origin = http.client.HTTPConnection(url.hostname, url.port or 80, timeout=30)
            headers = {k: v for k, v in self.headers.items() if not k.lower().startswith("proxy-")}
            origin.request(self.command, url.path + ("?" + url.query if url.query else ""), headers=headers)
            answer = origin.getresponse()
            body = answer.read()
            self.send_response(answer.status)
            for k, v in answer.getheaders():
                if k.lower() not in ("connection", "transfer-encoding", "keep-alive"):
                    self.send_header(k, v)
            self.end_headers()
            if self.command != "HEAD":
                self.wfile.write(body)

        do_GET = do_HEAD = relay

    http.server.ThreadingHTTPServer(("127.0.0.1", a.port), Proxy).serve_forever()


main()
