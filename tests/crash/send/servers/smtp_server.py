"""A local mail server for the delivery tests (aiosmtpd), on 127.0.0.1 only.

Each received message is written to OUT/<n>.eml, and its envelope and session to OUT/<n>.json.
Prints "ready" on stdout once every listener accepts connections; ends on its own after
--lifetime seconds, so a test that dies cannot leave it behind for long.
"""
import argparse
import asyncio
import json
import os
import ssl
import sys
import threading
import time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class LateGreeting:
    """Holds back the greeting of every connection made after start() by `delay` seconds."""
    delay = 0.0
    armed = threading.Event()


class LateSMTP(SMTP):
    async def _handle_client(self):
        if LateGreeting.armed.is_set():
            await asyncio.sleep(LateGreeting.delay)
        await super()._handle_client()


class LateController(Controller):
    def factory(self):
        return LateSMTP(self.handler, **self.SMTP_kwargs)


class Recorder:
    def __init__(self, out, refuse, old_auth):
        self.out = out
        self.refuse = refuse
        self.old_auth = old_auth
        self.count = 0
        self.lock = threading.Lock()

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        if self.old_auth:
            responses = ["250-AUTH=LOGIN" if r.startswith("250-AUTH ") else r for r in responses]
        return responses

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if any(r in address for r in self.refuse):
            return "550 5.1.1 no such mailbox"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.count += 1
            n = self.count
        with open(os.path.join(self.out, f"{n}.eml"), "wb") as f:
            f.write(envelope.original_content or envelope.content)
        info = {
            "from": envelope.mail_from,
            "to": envelope.rcpt_tos,
            "helo": session.host_name,
            "tls": session.ssl is not None or (server.transport is not None and
                                               server.transport.get_extra_info("ssl_object") is not None),
            "login": session.auth_data.login.decode() if session.auth_data is not None else None,
            "port": server.transport.get_extra_info("sockname")[1] if server.transport else 0,
        }
        with open(os.path.join(self.out, f"{n}.json.tmp"), "w") as f:
            json.dump(info, f)
        os.rename(os.path.join(self.out, f"{n}.json.tmp"), os.path.join(self.out, f"{n}.json"))
        return "250 Message accepted for delivery"


def authenticator(user, password):
    def check(server, session, envelope, mechanism, auth_data):
        ok = isinstance(auth_data, LoginPassword) and auth_data.login == user.encode() \
            and auth_data.password == password.encode()
        # handled=False lets the server answer 535 itself on a wrong password.
        return AuthResult(success=ok, handled=False, auth_data=auth_data if ok else None)
    return check


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--tls-port", type=int, default=0, help="implicit TLS listener")
    p.add_argument("--cert")
    p.add_argument("--key")
    p.add_argument("--starttls", action="store_true")
    p.add_argument("--auth", help="user:password")
    p.add_argument("--old-auth", action="store_true", help="announce AUTH=LOGIN")
    p.add_argument("--refuse", action="append", default=[])
    p.add_argument("--out", required=True)
    p.add_argument("--lifetime", type=float, default=300)
    p.add_argument("--greet-delay", type=float, default=0, help="seconds before the greeting")
    a = p.parse_args()

    handler = Recorder(a.out, a.refuse, a.old_auth)
    context = None
    if a.cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(a.cert, a.key)
    common = dict(hostname="127.0.0.1", server_hostname="mail.test", auth_require_tls=False)
    if a.auth:
        user, password = a.auth.split(":", 1)
        common["authenticator"] = authenticator(user, password)
        common["auth_required"] = False
    controllers = [LateController(handler, port=a.port, tls_context=context if a.starttls else None,
                              **common)]
    if a.tls_port:
        controllers.append(Controller(handler, port=a.tls_port, ssl_context=context, **common))
    for c in controllers:
        c.start()
    # Armed after start(): the controllers' own readiness probe waits for the greeting.
    LateGreeting.delay = a.greet_delay
    if a.greet_delay > 0:
        LateGreeting.armed.set()
    print("ready", flush=True)
    deadline = time.monotonic() + a.lifetime
    try:
        while time.monotonic() < deadline:
            time.sleep(0.2)
    finally:
        for c in controllers:
            c.stop()


if __name__ == "__main__":
    main()
