"""Small DNS servers for the delivery tests, on a loopback address only (dnslib).

--mode root:    refers every question to the name server ns.test at --refer-to (a loopback address).
--mode auth:    answers for its zone: NS questions with itself, MX questions with --mx.
--mode garbage: answers every datagram with random bytes (and a few near-misses).
Prints "ready" once bound; ends on its own after --lifetime seconds.
"""
import argparse
import os
import random
import socket
import sys
import time

from dnslib import A, DNSRecord, MX, NS, QTYPE, RR


def answer(mode, args, data):
    if mode == "garbage":
        choice = random.randrange(3)
        if choice == 0:
            return os.urandom(random.randrange(1, 600))
        # The query's own header with the response bit, then noise: looks right at first sight.
        head = bytearray(data[:12])
        if len(head) == 12:
            head[2] |= 0x80
            head[7] = 5
        if choice == 1:
            return bytes(head) + os.urandom(random.randrange(0, 100))
        # A name that points at itself.
        return bytes(head) + b"\xc0\x0c" * 8
    request = DNSRecord.parse(data)
    reply = request.reply()
    qname = request.q.qname
    if mode == "root":
        reply.header.aa = 0
        reply.add_auth(RR("test.", QTYPE.NS, rdata=NS("ns.test."), ttl=60))
        reply.add_ar(RR("ns.test.", QTYPE.A, rdata=A(args.refer_to), ttl=60))
        return reply.pack()
    if request.q.qtype == QTYPE.NS:
        reply.add_answer(RR(qname, QTYPE.NS, rdata=NS("ns1." + str(qname)), ttl=60))
        reply.add_ar(RR("ns1." + str(qname), QTYPE.A, rdata=A(args.address), ttl=60))
    elif request.q.qtype == QTYPE.MX:
        for i, target in enumerate(args.mx):
            preference, host = target.split(":", 1)
            reply.add_answer(RR(qname, QTYPE.MX, rdata=MX(host, int(preference)), ttl=60))
    return reply.pack()


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--address", default="127.0.0.1")
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--mode", choices=["root", "auth", "garbage"], required=True)
    p.add_argument("--refer-to", default="127.0.0.2")
    p.add_argument("--mx", action="append", default=[], help="preference:host")
    p.add_argument("--lifetime", type=float, default=300)
    p.add_argument("--log")
    args = p.parse_args()
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind((args.address, args.port))
    sock.settimeout(0.2)
    print("ready", flush=True)
    deadline = time.monotonic() + args.lifetime
    while time.monotonic() < deadline:
        try:
            data, peer = sock.recvfrom(4096)
        except socket.timeout:
            continue
        if args.log:
            with open(args.log, "a") as f:
                f.write(f"{peer[0]}:{peer[1]}\n")
        try:
            sock.sendto(answer(args.mode, args, data), peer)
        except Exception as e:  # a query dnslib cannot read gets no answer
            print(f"error: {e}", file=sys.stderr, flush=True)


if __name__ == "__main__":
    main()
