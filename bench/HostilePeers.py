#!/usr/bin/env python3
"""Hostile peers against a game host on this machine, for bench/HostileLoad.sh.

For a bounded time, all at once, from loopback addresses other than
127.0.0.1 (the honest bots' own):
  never-read  players that log in and never read what the host sends;
  flooder     one player that sends chat lines as fast as it can (and reads);
  hog         connections to the game and web ports, opened as fast as the
              host takes them, held and never used (up to the descriptor
              limit the host runs with);
  garbage     connections that send random bytes, a frame announcing more
              than the host takes, a frame cut short and then nothing, or
              endless 0x80 bytes;
  web         downloads that reset after a first piece, that half-close
              right after the request and read the whole file (checked
              against its Content-length), and that stall after a piece.
Everything ends by itself after --seconds; then every socket is closed and
one summary line is printed:  hostile: key=value ...
Only 127.0.0.0/8 is ever spoken to.
"""

import argparse
import ipaddress
import os
import random
import socket
import struct
import threading
import time


def packed(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.insert(0, 0x80 | (value & 0x7F))
        value >>= 7
    return bytes(out)


def frame(msg_id, payload=b""):
    return packed(msg_id) + packed(len(payload)) + payload


MSG_JOIN, MSG_CHAT, MSG_CHAT_ACK = 3, 5, 6


class Peers:
    def __init__(self, args):
        self.args = args
        self.stop = threading.Event()
        self.lock = threading.Lock()
        self.counts = {}
        self.held = []  # sockets kept open until the end
        self.hog_open = 0
        self.hog_peak = 0

    def add(self, key, n=1):
        with self.lock:
            self.counts[key] = self.counts.get(key, 0) + n

    def hold(self, sock):
        with self.lock:
            self.held.append(sock)

    def connect(self, port, source, timeout=1.0, rcvbuf=0):
        sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        if rcvbuf:
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
        sock.bind((source, 0))
        sock.settimeout(timeout)
        try:
            sock.connect((self.args.host, port))
        except OSError:
            sock.close()
            raise
        return sock

    # -- players that never read ------------------------------------------
    def never_read(self):
        for i in range(self.args.never_read):
            try:
                sock = self.connect(self.args.port, "127.0.0.2", rcvbuf=2048)
                sock.sendall(frame(MSG_JOIN, b"muet%d" % (i + 1)))
                self.hold(sock)
                self.add("never_read")
            except OSError:
                self.add("never_read_failed")

    # -- a chat flooder -----------------------------------------------------
    def flooder(self):
        try:
            sock = self.connect(self.args.port, "127.0.0.3")
            sock.sendall(frame(MSG_JOIN, b"bavard"))
        except OSError:
            self.add("flood_failed")
            return
        acks = [0]

        def reader():
            buffer = b""
            sock.settimeout(0.2)
            while not self.stop.is_set():
                try:
                    data = sock.recv(65536)
                except socket.timeout:
                    continue
                except OSError:
                    break
                if not data:
                    break
                buffer += data
                # Count the acknowledgements (6, length 0) among the frames.
                pos = 0
                while True:
                    start = pos
                    ok, msg_id, pos = unpack(buffer, pos)
                    if not ok:
                        pos = start
                        break
                    ok, length, pos = unpack(buffer, pos)
                    if not ok or len(buffer) - pos < length:
                        pos = start
                        break
                    pos += length
                    if msg_id == MSG_CHAT_ACK:
                        acks[0] += 1
                buffer = buffer[pos:]

        thread = threading.Thread(target=reader, daemon=True)
        thread.start()
        sent = 0
        batch = b"".join(frame(MSG_CHAT, b"flood %d" % n) for n in range(100))
        sock.settimeout(1.0)
        while not self.stop.is_set():
            try:
                sock.sendall(batch)
                sent += 100
            except OSError:
                break
            time.sleep(0.01)
        self.add("flood_sent", sent)
        thread.join(1.0)
        self.add("flood_acked", acks[0])
        sock.close()

    # -- descriptor hog -----------------------------------------------------
    def hog(self):
        # The other peers connect first: once the hog holds every descriptor
        # the host has, nobody else gets in, and the flooder would go untried.
        self.stop.wait(self.args.hog_delay)
        n = 0
        while not self.stop.is_set() and n < self.args.hog_max:
            port = self.args.web_port if (n % 4 == 3 and self.args.web_port) else self.args.port
            source = "127.0.%d.%d" % (1 + n // 250, 1 + n % 250)
            try:
                sock = self.connect(port, source, timeout=0.5)
                self.hold(sock)
                with self.lock:
                    self.hog_open += 1
                    self.hog_peak = max(self.hog_peak, self.hog_open)
            except OSError:
                self.add("hog_refused")
                time.sleep(0.05)
            n += 1
        self.add("hog_tries", n)

    # -- garbage ------------------------------------------------------------
    def garbage(self):
        rng = random.Random(7)
        kinds = ["random", "oversized", "half", "endless"]
        n = 0
        while not self.stop.is_set():
            kind = kinds[n % len(kinds)]
            source = "127.0.200.%d" % (1 + n % 250)
            n += 1
            try:
                sock = self.connect(self.args.port, source)
                if kind == "random":
                    sock.sendall(bytes(rng.getrandbits(8) for _ in range(rng.randint(1, 4096))))
                    sock.close()
                elif kind == "oversized":
                    sock.sendall(packed(MSG_CHAT) + packed(2 * 1024 * 1024) + b"x" * 100)
                    self.hold(sock)
                elif kind == "half":
                    sock.sendall(frame(MSG_JOIN, b"moitie") + packed(MSG_CHAT) + packed(500) + b"y" * 100)
                    self.hold(sock)
                else:
                    sock.sendall(b"\x80" * 4096)
                    self.hold(sock)
                self.add("garbage_" + kind)
            except OSError:
                self.add("garbage_failed")
            time.sleep(0.05)

    # -- web clients --------------------------------------------------------
    def web(self):
        if not self.args.web_port:
            return
        n = 0
        stalled = 0
        while not self.stop.is_set():
            kind = ["reset", "halfclose", "stall"][n % 3]
            source = "127.0.201.%d" % (1 + n % 250)
            n += 1
            try:
                sock = self.connect(self.args.web_port, source, timeout=5.0)
                sock.sendall(b"GET " + self.args.route.encode() + b" HTTP/1.0\r\n\r\n")
                if kind == "reset":
                    read_some(sock, 64 * 1024)
                    sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                    sock.close()
                    self.add("web_reset")
                elif kind == "halfclose":
                    sock.shutdown(socket.SHUT_WR)
                    whole = read_all(sock, self.stop)
                    sock.close()
                    head, _, body = whole.partition(b"\r\n\r\n")
                    length = None
                    for line in head.split(b"\r\n"):
                        if line.lower().startswith(b"content-length:"):
                            length = int(line.split(b":")[1])
                    if length is not None and len(body) == length:
                        self.add("web_halfclose_whole")
                    else:
                        self.add("web_halfclose_cut")
                        self.add("web_halfclose_cut_bytes", len(body))
                elif stalled < self.args.web_stall:
                    read_some(sock, 16 * 1024)
                    self.hold(sock)
                    stalled += 1
                    self.add("web_stall")
                else:
                    sock.close()
            except OSError:
                self.add("web_failed")
            time.sleep(0.05)

    def run(self):
        workers = [self.never_read, self.flooder, self.hog, self.garbage, self.web]
        threads = [threading.Thread(target=w, daemon=True) for w in workers]
        for t in threads:
            t.start()
        self.stop.wait(self.args.seconds)
        self.stop.set()
        for t in threads:
            t.join(30)
        with self.lock:
            held, self.held = self.held, []
        for sock in held:
            try:
                sock.close()
            except OSError:
                pass
        self.counts["hog_peak"] = self.hog_peak
        print("hostile: " + " ".join("%s=%d" % kv for kv in sorted(self.counts.items())), flush=True)


def unpack(data, pos):
    value = 0
    while pos < len(data):
        byte = data[pos]
        pos += 1
        value = (value << 7) | (byte & 0x7F)
        if not byte & 0x80:
            return True, value, pos
    return False, 0, pos


def read_some(sock, count):
    got = 0
    while got < count:
        data = sock.recv(min(65536, count - got))
        if not data:
            break
        got += len(data)
    return got


def read_all(sock, stop):
    parts = []
    sock.settimeout(1.0)
    quiet = 0
    while True:
        try:
            data = sock.recv(65536)
        except socket.timeout:
            quiet += 1
            if stop.is_set() and quiet > 10:
                break
            continue
        if not data:
            break
        quiet = 0
        parts.append(data)
    return b"".join(parts)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--web-port", type=int, default=0)
    parser.add_argument("--route", default="/data")
    parser.add_argument("--seconds", type=float, default=20)
    parser.add_argument("--never-read", type=int, default=8)
    parser.add_argument("--hog-max", type=int, default=2000)
    parser.add_argument("--hog-delay", type=float, default=2.0)
    parser.add_argument("--web-stall", type=int, default=10)
    args = parser.parse_args()
    if not ipaddress.ip_address(args.host) in ipaddress.ip_network("127.0.0.0/8"):
        parser.error("only hosts in 127.0.0.0/8")
    Peers(args).run()


if __name__ == "__main__":
    main()
