#!/usr/bin/python3
"""A small HTTP(S) server for the upload tests.

Every request is recorded byte for byte (request line, headers, body) into the folder given with
--record, one file per request, numbered in arrival order. The answer depends on --mode:
  ok            200 with a body that holds XML entities
  redirect      302 with the Location given by --location, else the request's decoded query
  basic         401 Basic until the request carries user:secret
  digest        401 Digest (MD5, qop=auth) until the request carries a valid answer for user:secret
  drop          reads half of the announced body, then closes the connection without answering
  only-from     answers 200 only to connections from --peer; any other connection is closed at once
  endless-body  200 with a chunked body that goes on until the client leaves (at most 64 MiB)
  endless-head  200 with header lines that go on until the client leaves (at most 64 MiB)
  drip          200 announcing 400 bytes, sent one every 50 ms
  cut           200 announcing 1000 bytes, of which 10 come before the connection closes
The server prints "PORT <n>" when it listens, and stops after --lifetime seconds in any case.
"""
import argparse
import hashlib
import os
import socket
import ssl
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

USER, SECRET, REALM, NONCE = "user", "secret", "uploads", "5f0c3a2b9d1e"


def md5(text):
    return hashlib.md5(text.encode()).hexdigest()


def digest_ok(header, method):
    if not header.lower().startswith("digest "):
        return False
    fields = {}
    for part in header[7:].split(","):
        if "=" in part:
            k, v = part.strip().split("=", 1)
            fields[k.strip()] = v.strip().strip('"')
    if fields.get("username") != USER or fields.get("nonce") != NONCE:
        return False
    ha1 = md5(f"{USER}:{REALM}:{SECRET}")
    ha2 = md5(f"{method}:{fields.get('uri', '')}")
    expected = md5(f"{ha1}:{NONCE}:{fields.get('nc', '')}:{fields.get('cnonce', '')}:{fields.get('qop', '')}:{ha2}")
    return fields.get("response") == expected


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def record(self, body):
        server = self.server
        with server.lock:
            server.count += 1
            name = os.path.join(server.record_dir, "%03d.req" % server.count)
        head = self.requestline + "\r\n" + "".join("%s: %s\r\n" % kv for kv in self.headers.items())
        with open(name, "wb") as f:
            f.write(head.encode("latin-1") + b"\r\n" + body)

    def answer(self, status, extra=(), body=b""):
        self.send_response(status)
        for k, v in extra:
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def read_body(self, limit=None):
        length = int(self.headers.get("Content-Length") or 0)
        if limit is not None:
            length = min(length, limit)
        data = b""
        while len(data) < length:
            chunk = self.rfile.read(min(65536, length - len(data)))
            if not chunk:
                break
            data += chunk
        return data

    def handle_any(self):
        mode = self.server.mode
        if mode == "drop":
            announced = int(self.headers.get("Content-Length") or 0)
            body = self.read_body(announced // 2)
            self.record(body)
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return
        body = self.read_body()
        self.record(body)
        auth = self.headers.get("Authorization", "")
        if mode == "basic" and auth != "Basic dXNlcjpzZWNyZXQ=":
            return self.answer(401, [("WWW-Authenticate", f'Basic realm="{REALM}"')])
        if mode == "digest" and not digest_ok(auth, self.command):
            return self.answer(401, [("WWW-Authenticate", f'Digest realm="{REALM}", nonce="{NONCE}", qop="auth", algorithm=MD5')])
        if mode in ("endless-body", "endless-head", "drip", "cut"):
            return self.hostile(mode)
        if mode == "redirect":
            location = self.server.location or urllib.parse.unquote(urllib.parse.urlsplit(self.path).query)
            return self.answer(302, [("Location", location)])
        self.answer(200, [("Content-Type", "text/plain")], b"stored &lt;ok&gt; &amp; &quot;done&quot;")

    def hostile(self, mode):
        self.close_connection = True
        try:
            self.send_response(200)
            if mode == "endless-head":
                self.flush_headers()
                for _ in range(64 * 1024):
                    self.wfile.write(b"X-Filler: " + b"x" * 1000 + b"\r\n")
                self.wfile.write(b"\r\n")
                return
            if mode == "endless-body":
                self.send_header("Transfer-Encoding", "chunked")
                self.end_headers()
                chunk = b"10000\r\n" + b"y" * 0x10000 + b"\r\n"
                for _ in range(1024):
                    self.wfile.write(chunk)
                self.wfile.write(b"0\r\n\r\n")
                return
            self.send_header("Content-Length", "400" if mode == "drip" else "1000")
            self.end_headers()
            if mode == "cut":
                self.wfile.write(b"z" * 10)
                self.wfile.flush()
                self.connection.shutdown(socket.SHUT_RDWR)
                return
            for _ in range(400):
                self.wfile.write(b"d")
                self.wfile.flush()
                time.sleep(0.05)
        except OSError:  # the client went, as it should
            pass

    do_POST = handle_any
    do_GET = handle_any


class Server(ThreadingHTTPServer):
    daemon_threads = True

    def verify_request(self, request, client_address):
        if self.mode == "only-from" and client_address[0] != self.peer:
            request.close()
            return False
        return True


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--mode", default="ok")
    p.add_argument("--record", required=True)
    p.add_argument("--location", default="")
    p.add_argument("--peer", default="")
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--lifetime", type=float, default=120)
    a = p.parse_args()
    server = Server(("127.0.0.1", 0), Handler)
    server.mode, server.record_dir, server.location, server.peer = a.mode, a.record, a.location, a.peer
    server.lock, server.count = threading.Lock(), 0
    if a.cert:
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(a.cert, a.key)
        server.socket = ctx.wrap_socket(server.socket, server_side=True)
    threading.Timer(a.lifetime, server.shutdown).start()
    print("PORT %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
