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
              against its Content-length), and that stall after a piece;
  guessers    password guessers from two addresses of their own: "1 guess,
              3" pairs pipelined by the thousand over each connection, and
              one guess per connection in a loop;
  phantoms    a logged-in player that sends its 3 (and 1) again and again,
              and idle connections that never log in (--idle of them);
  relay       a logged-in player sending small valid 9s as fast as it can,
              players sending 9s and 8s with 60 KB payloads, and players
              sending malformed 9s and 8s (a connection each);
  slow web    request lines never finished (from a few addresses, more than
              the host takes from one);
  discovery   valid queries from --spoofed loopback addresses 127.50.x.y at
              --discovery-rate a second, while the real finder (--finder,
              the game executable) looks for the game from 127.0.0.1;
  witnesses   honest players that log in with the password and count what
              they are told: one from the start, one that joins once the
              idle connections are in.
Everything ends by itself after --seconds; then every socket is closed and
the counts are printed, one line per group of peers ("peers GROUP:
key=value ..."), then the checks the counts must pass ("check ok|MISSED
...").
Only 127.0.0.0/8 is ever spoken to.
"""

import argparse
import ipaddress
import os
import random
import re
import select
import socket
import struct
import subprocess
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


MSG_PASSWORD, MSG_ERROR, MSG_JOIN, MSG_PLAYER, MSG_CHAT = 1, 2, 3, 4, 5
MSG_CHAT_ACK, MSG_LEAVE, MSG_POSITION, MSG_WALK = 6, 7, 8, 9
# Cells run from 0 to MAP_SIZE - 1 both ways, directions from 0 to 7.
MAP_SIZE, DIRECTIONS = 256, 8
# What a held-back address is told, and a refused password (ASCII starts of
# the host's texts).
HELD_BACK, WRONG_PASSWORD = b"Trop d'essais", b"Mot de passe invalide"
# The host's refusals per address before it holds the address back.
REFUSALS_ALLOWED = 5
# A discovery query of version 2 without a cookie, padded as the finder pads.
DISCOVERY_QUERY = (b"VZD?" + bytes([2]) + bytes(8)).ljust(77, b"\0")


class Refused(Exception):
    """A login the host answered with 2, or closed."""


class Frames:
    """Splits what one connection receives into (id, payload) frames."""

    def __init__(self):
        self.buffer = b""

    def feed(self, data):
        self.buffer += data
        frames = []
        pos = 0
        while True:
            ok, msg_id, at = unpack(self.buffer, pos)
            if not ok:
                break
            ok, length, at = unpack(self.buffer, at)
            if not ok or len(self.buffer) - at < length:
                break
            frames.append((msg_id, self.buffer[at:at + length]))
            pos = at + length
        self.buffer = self.buffer[pos:]
        return frames


def integers(payload, count, pos=0):
    """The first count packed integers of payload and where they end; None
    for the list when they do not decode."""
    values = []
    for _ in range(count):
        ok, value, pos = unpack(payload, pos)
        if not ok:
            return None, pos
        values.append(value)
    return values, pos


class Witness:
    """What an honest player is told: every player announced, departures of
    players it was never told of, and each relayed move, which must decode
    to exactly its integers on the map.  Moves are tallied by the sender's
    name without its trailing digits ("lourd12" counts as "lourd")."""

    def __init__(self, peers, prefix, own):
        self.peers = peers
        self.prefix = prefix
        # Its own moves come back too (its start cell); they are no stranger's.
        self.names = {own: "own"}
        self.largest = 0

    def add(self, key, n=1):
        self.peers.add(self.prefix + key, n)

    def take(self, msg_id, payload):
        self.largest = max(self.largest, len(payload))
        if msg_id == MSG_PLAYER:
            values, pos = integers(payload, 4)
            if values is None or pos >= len(payload):
                self.add("bad_players")
                return
            name = payload[pos + 1:].decode("cp1252", "replace")
            if values[0] in self.names:
                self.add("told_twice")
            self.names[values[0]] = name
            self.add("players")
            if name.startswith("fantome"):
                self.add("phantom_4s")
            if name in ("", "guest"):
                self.add("unnamed")
        elif msg_id == MSG_LEAVE:
            values, _ = integers(payload, 2)
            if values is None or values[0] not in self.names:
                self.add("leaves_unknown")
            else:
                del self.names[values[0]]
        elif msg_id in (MSG_WALK, MSG_POSITION):
            self.take_move(msg_id, payload)
        elif msg_id == MSG_ERROR:
            self.add("errors")

    def take_move(self, msg_id, payload):
        # Walk: id, X, Y; position: id, Reserved, X, Y, Direction.
        count = 3 if msg_id == MSG_WALK else 5
        values, pos = integers(payload, count)
        if values is None or pos != len(payload):
            self.add("bad_moves")
            return
        cells = values[1:3] if msg_id == MSG_WALK else values[2:4]
        if any(v >= MAP_SIZE for v in cells) or (msg_id == MSG_POSITION and values[4] >= DIRECTIONS):
            self.add("bad_moves")
        elif values[0] not in self.names:
            self.add("moves_unknown")
        else:
            self.add("moves_" + self.names[values[0]].rstrip("0123456789").replace(" ", "_"))


class Peers:
    def __init__(self, args):
        self.args = args
        self.stop = threading.Event()
        self.lock = threading.Lock()
        self.counts = {}
        self.held = []  # sockets kept open until the end
        self.hog_open = 0
        self.hog_peak = 0
        self.idle_socks = []
        self.idle_ready = threading.Event()
        # Sockets the host should close by itself: socket -> (key, opened at).
        self.watched = {}
        self.started = time.time()

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

    def hello(self, name, password=None):
        """The login of an honest client: the password (when the host has
        one), then the name."""
        password = self.args.password.encode("cp1252") if password is None else password
        return (frame(MSG_PASSWORD, password) if password else b"") + frame(MSG_JOIN, name)

    def login(self, source, name, timeout=5.0):
        """Logs in from source; returns the socket, the player's own id, the
        frames told with the login and the Frames holding what follows.
        Raises Refused on a 2 or a close, OSError when it cannot connect."""
        sock = self.connect(self.args.port, source, timeout=timeout)
        try:
            sock.sendall(self.hello(name))
            frames = Frames()
            told = []
            deadline = time.time() + timeout
            while time.time() < deadline:
                data = sock.recv(65536)
                if not data:
                    raise Refused("closed")
                for msg_id, payload in frames.feed(data):
                    if msg_id == MSG_ERROR:
                        raise Refused(payload.decode("cp1252", "replace"))
                    told.append((msg_id, payload))
                own = [p for m, p in told if m == MSG_JOIN]
                if own:
                    return sock, integers(own[0], 1)[0][0], told, frames
            raise Refused("no answer")
        except BaseException:
            sock.close()
            raise

    def answers(self, sock, timeout=3.0):
        """What the host says until it closes the connection: its frames and
        how the connection ended (closed, reset or open)."""
        frames = Frames()
        told = []
        sock.settimeout(0.2)
        deadline = time.time() + timeout
        while time.time() < deadline:
            try:
                data = sock.recv(65536)
            except socket.timeout:
                continue
            except OSError:
                return told, "reset"
            if not data:
                return told, "closed"
            told += frames.feed(data)
        return told, "open"

    def drain(self, sock, frames=None, witness=None):
        """Reads until the end in a thread of its own, handing each frame to
        the witness; returns the thread."""
        frames = frames or Frames()

        def reader():
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
                for msg_id, payload in frames.feed(data):
                    if witness:
                        witness.take(msg_id, payload)
            if not self.stop.is_set() and witness:
                witness.add("closed")

        thread = threading.Thread(target=reader, daemon=True)
        thread.start()
        return thread

    # -- players that never read ------------------------------------------
    def never_read(self):
        for i in range(self.args.never_read):
            try:
                sock = self.connect(self.args.port, "127.0.0.2", rcvbuf=2048)
                sock.sendall(self.hello(b"muet%d" % (i + 1)))
                self.hold(sock)
                self.add("never_read")
            except OSError:
                self.add("never_read_failed")

    # -- a chat flooder -----------------------------------------------------
    def flooder(self):
        try:
            sock = self.connect(self.args.port, "127.0.0.3")
            sock.sendall(self.hello(b"bavard"))
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
                    sock.sendall(self.hello(b"moitie%d" % n) + packed(MSG_CHAT) + packed(500) + b"y" * 100)
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

    # -- honest witnesses -----------------------------------------------------
    def witness(self):
        """An honest player from the start: it must be told of nobody twice,
        of no stranger, and of no move that is not exactly its integers."""
        try:
            sock, own, told, frames = self.login("127.0.0.4", b"temoin")
        except (OSError, Refused):
            self.add("witness_failed")
            return
        self.early = Witness(self, "witness_", own)
        for msg_id, payload in told:
            self.early.take(msg_id, payload)
        thread = self.drain(sock, frames, self.early)
        self.stop.wait()
        thread.join(2)
        sock.close()

    def late_witness(self):
        """An honest player that joins once the idle connections are in: the
        players it is told of, and its start cell, must count admitted
        players only."""
        self.idle_ready.wait(self.args.seconds / 2)
        try:
            sock, own, told, frames = self.login("127.0.0.5", b"retard")
        except (OSError, Refused):
            self.add("late_failed")
            return
        # The players present come after the login, maybe in more reads.
        sock.settimeout(0.2)
        until = time.time() + 1.0
        while time.time() < until:
            try:
                data = sock.recv(65536)
            except socket.timeout:
                continue
            if not data:
                break
            told += frames.feed(data)
        late = Witness(self, "late_", own)
        for msg_id, payload in told:
            late.take(msg_id, payload)
            values, _ = integers(payload, 4)
            if msg_id == MSG_POSITION and values and values[0] == own:
                self.counts["late_x"], self.counts["late_y"] = values[2], values[3]
        sock.sendall(frame(MSG_LEAVE))
        sock.close()

    # -- password guessers ----------------------------------------------------
    def guess_pipelined(self):
        """Thousands of "1 guess, 3" pairs in one go over each connection."""
        n = 0
        while not self.stop.is_set():
            batch = b"".join(self.hello(b"devin", b"g%08d" % (n + i)) for i in range(self.args.pipeline))
            n += self.args.pipeline
            self.guess("guess_pipe_", "127.0.210.1", batch, self.args.pipeline)

    def guess_each(self):
        """One guess per connection, in a loop."""
        n = 0
        while not self.stop.is_set():
            n += 1
            self.guess("guess_each_", "127.0.211.1", self.hello(b"devin", b"h%08d" % n), 1)

    def guess(self, prefix, source, batch, guesses):
        try:
            sock = self.connect(self.args.port, source)
        except OSError:
            self.add(prefix + "failed")
            time.sleep(0.05)
            return
        self.add(prefix + "connections")
        try:
            sock.sendall(batch)
            self.add(prefix + "sent", guesses)
        except OSError:
            pass
        told, end = self.answers(sock)
        sock.close()
        errors = [p for m, p in told if m == MSG_ERROR]
        if any(m == MSG_JOIN for m, _ in told):
            self.add(prefix + "admitted")
        elif errors and errors[0].startswith(HELD_BACK):
            self.add(prefix + "held_back")
        elif errors and errors[0].startswith(WRONG_PASSWORD):
            self.add(prefix + "refused")
        elif errors:
            self.add(prefix + "other_answer")
        else:
            self.add(prefix + "silent_" + end)

    # -- phantom joiners ------------------------------------------------------
    def phantom(self):
        """A logged-in player that logs in again and again, by 3 and by 1."""
        try:
            sock, _, _, frames = self.login("127.0.0.6", b"fantome")
        except (OSError, Refused):
            self.add("phantom_failed")
            return
        thread = self.drain(sock, frames)
        batch = b"".join(self.hello(b"fantome%d" % n) for n in range(100))
        sock.settimeout(1.0)
        while not self.stop.is_set():
            try:
                sock.sendall(batch)
                self.add("phantom_logins_sent", 100)
            except OSError:
                self.add("phantom_cut")
                break
            time.sleep(0.05)
        thread.join(2)
        sock.close()

    def idle(self):
        """Connections that never log in; they must hear nothing."""
        for i in range(self.args.idle):
            source = "127.0.%d.%d" % (212 + i // 250, 1 + i % 250)
            try:
                sock = self.connect(self.args.port, source)
                self.idle_socks.append(sock)
            except OSError:
                self.add("idle_failed")
        self.counts["idle_open"] = len(self.idle_socks)
        # Give the host time to take them all before the late witness comes.
        time.sleep(0.5)
        self.idle_ready.set()

    def idle_heard(self):
        """What the idle connections received, looked at before they close."""
        for sock in self.idle_socks:
            # Not blocking: with a time-out, a socket waits that long for data.
            sock.setblocking(False)
            try:
                data = sock.recv(65536)
                self.add("idle_heard_bytes", len(data))
                if data:
                    self.add("idle_heard_connections")
                else:
                    self.add("idle_closed_by_host")
            except BlockingIOError:
                pass
            except OSError:
                self.add("idle_closed_by_host")

    # -- relay flooders -------------------------------------------------------
    def walker(self):
        """A logged-in player sending small valid walks as fast as it can."""
        try:
            sock, _, _, frames = self.login("127.0.0.7", b"marcheur")
        except (OSError, Refused):
            self.add("walker_failed")
            return
        thread = self.drain(sock, frames)
        rng = random.Random(9)
        sock.settimeout(1.0)
        began = time.time()
        while not self.stop.is_set():
            batch = b"".join(frame(MSG_WALK, packed(rng.randrange(MAP_SIZE)) + packed(rng.randrange(MAP_SIZE)))
                             for _ in range(100))
            try:
                sock.sendall(batch)
                self.add("walker_sent", 100)
            except OSError:
                self.add("walker_cut")
                break
            time.sleep(0.01)
        self.counts["walker_seconds"] = int(time.time() - began + 0.999)
        thread.join(2)
        sock.close()

    def bad_mover(self):
        """Players whose one move is 60 KB long or malformed; each must be
        ended, and nothing of it relayed."""
        kinds = {
            "big_walk": frame(MSG_WALK, packed(5) + packed(5) + bytes(60 * 1024)),
            "big_position": frame(MSG_POSITION, packed(5) + packed(5) + packed(1) + bytes(60 * 1024)),
            "walk_three": frame(MSG_WALK, packed(1) + packed(2) + packed(3)),
            "walk_one": frame(MSG_WALK, packed(1)),
            "walk_off_map": frame(MSG_WALK, packed(300) + packed(5)),
            "position_direction": frame(MSG_POSITION, packed(5) + packed(5) + packed(9)),
            "walk_cut": frame(MSG_WALK, packed(5) + b"\x81"),
            "position_empty": frame(MSG_POSITION),
        }
        names = sorted(kinds)
        n = 0
        while not self.stop.is_set():
            kind = names[n % len(names)]
            n += 1
            # The witness tallies moves by name without digits: "lourd", "tordu".
            name = (b"lourd%d" if kind.startswith("big") else b"tordu%d") % n
            try:
                sock, _, _, _ = self.login("127.0.0.8", name)
            except (OSError, Refused):
                self.add("bad_move_login_failed")
                time.sleep(0.1)
                continue
            try:
                sock.sendall(kinds[kind])
            except OSError:
                pass
            self.add("bad_move_sent")
            _, end = self.answers(sock)
            sock.close()
            self.add("bad_move_" + ("left_open" if end == "open" else "ended"))
            time.sleep(0.05)

    # -- slow web clients -----------------------------------------------------
    def slow_web(self):
        """Request lines never finished, from a few addresses, more from each
        than the host takes."""
        if not self.args.web_port:
            return
        for i in range(self.args.slow_lines):
            source = "127.0.213.%d" % (1 + i % 4)
            try:
                sock = self.connect(self.args.web_port, source)
                sock.sendall(b"GET /da")
                sock.setblocking(False)
                with self.lock:
                    self.watched[sock] = ("web_line", time.time())
                self.add("web_line_tries")
            except OSError:
                self.add("web_line_failed")

    def watcher(self):
        """Notes when the host closes a watched socket, and how long after it
        was opened: at once (turned away) or later (timed out)."""
        while not self.stop.is_set():
            with self.lock:
                socks = {sock.fileno(): sock for sock in self.watched}
            if not socks:
                self.stop.wait(0.2)
                continue
            poller = select.poll()
            for fd in socks:
                poller.register(fd, select.POLLIN)
            for fd, _ in poller.poll(200):
                sock = socks[fd]
                try:
                    data = sock.recv(65536)
                except BlockingIOError:
                    continue
                except OSError:
                    data = b""
                with self.lock:
                    key, opened = self.watched[sock]
                if data:
                    self.add(key + "_answer_bytes", len(data))
                    continue
                with self.lock:
                    del self.watched[sock]
                    self.held.append(sock)
                held = time.time() - opened
                if held < 1.0:
                    self.add(key + "_turned_away")
                else:
                    self.add(key + "_timed_out")
                    tenths = int(held * 10)
                    self.counts[key + "_closed_after_max_ds"] = max(self.counts.get(key + "_closed_after_max_ds", 0), tenths)
                    self.counts[key + "_closed_after_min_ds"] = min(self.counts.get(key + "_closed_after_min_ds", tenths), tenths)
        with self.lock:
            self.counts["web_line_open_at_end"] = sum(1 for k, _ in self.watched.values() if k == "web_line")
            self.held += list(self.watched)
            self.watched.clear()

    # -- spoofed discovery ----------------------------------------------------
    def discovery(self):
        """Valid queries from many loopback addresses at a set rate; counts
        what comes back to them."""
        if not self.args.discovery_port:
            return
        poller = select.epoll()
        socks = {}
        for i in range(self.args.spoofed):
            sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            sock.bind(("127.50.%d.%d" % (i // 250, 1 + i % 250), 0))
            sock.setblocking(False)
            socks[sock.fileno()] = sock
            poller.register(sock.fileno(), select.EPOLLIN)
        target = (self.args.host, self.args.discovery_port)
        order = list(socks.values())
        sent = 0
        began = time.time()
        while not self.stop.is_set():
            if sent > self.args.discovery_rate * (time.time() - began):
                time.sleep(0.002)
            else:
                for sock in order[sent % len(order):][:50]:
                    try:
                        sock.sendto(DISCOVERY_QUERY, target)
                        sent += 1
                    except OSError:
                        self.add("discovery_send_failed")
            for fd, _ in poller.poll(0):
                self.take_datagrams(socks[fd])
        self.add("discovery_sent", sent)
        self.add("discovery_sent_bytes", sent * len(DISCOVERY_QUERY))
        for sock in order:
            self.take_datagrams(sock)
            sock.close()
        poller.close()

    def take_datagrams(self, sock):
        while True:
            try:
                data = sock.recv(2048)
            except OSError:
                return
            self.add("discovery_received_bytes", len(data))
            kind = {b"VZD!": "answers", b"VZD#": "challenges"}.get(data[:4], "other")
            self.add("discovery_" + kind)

    def finder(self):
        """The game's own finder, from 127.0.0.1, while the flood goes on."""
        if not (self.args.finder and self.args.discovery_port):
            return
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
        while not self.stop.wait(2.0):
            try:
                out = subprocess.run([self.args.finder, "--find", "--broadcast", self.args.host, "--discovery-port",
                                      str(self.args.discovery_port), "--seconds", "2"],
                                     capture_output=True, timeout=15, env=env).stdout.decode("cp1252", "replace")
            except (OSError, subprocess.TimeoutExpired):
                self.add("finder_failed")
                continue
            self.add("finder_runs")
            if re.search(r":%d\s" % self.args.port, out):
                self.add("finder_found")

    def run(self):
        self.early = None
        workers = [self.never_read, self.flooder, self.hog, self.garbage, self.web, self.witness,
                   self.late_witness, self.guess_pipelined, self.guess_each, self.phantom, self.idle,
                   self.walker, self.bad_mover, self.slow_web, self.watcher, self.discovery, self.finder]
        workers = [w for w in workers if w.__name__ not in self.args.skip.split(",")]
        threads = [threading.Thread(target=w, daemon=True) for w in workers]
        for t in threads:
            t.start()
        self.stop.wait(self.args.seconds)
        self.stop.set()
        for t in threads:
            t.join(30)
        self.idle_heard()
        with self.lock:
            held, self.held = self.held, []
        for sock in held + self.idle_socks:
            try:
                sock.close()
            except OSError:
                pass
        self.counts["hog_peak"] = self.hog_peak
        if self.early:
            self.counts["witness_largest_payload"] = self.early.largest
        self.report()

    GROUPS = [("guessers", ("guess_",)), ("phantoms", ("phantom_", "idle_", "late_")),
              ("relay", ("walker_", "bad_move_")), ("witness", ("witness_",)), ("web", ("web_",)),
              ("discovery", ("discovery_", "finder_"))]

    def report(self):
        rest = dict(self.counts)
        for group, prefixes in self.GROUPS:
            keys = sorted(k for k in rest if k.startswith(prefixes))
            print("peers %s: %s" % (group, " ".join("%s=%d" % (k, rest.pop(k)) for k in keys)))
        print("peers others: " + " ".join("%s=%d" % kv for kv in sorted(rest.items())))
        for text, passed in self.checks():
            print("check %s %s" % ("ok    " if passed else "MISSED", text), flush=True)

    def checks(self):
        c = lambda key: self.counts.get(key, 0)
        allowed = REFUSALS_ALLOWED * (1 + int(self.args.seconds) // 60)
        walk_cap = 10 * (c("walker_seconds") + 1)
        bad_relayed = c("witness_bad_moves") + c("witness_moves_lourd") + c("witness_moves_tordu")
        rules = [
            ("no guessed login admitted (%d)" % (c("guess_pipe_admitted") + c("guess_each_admitted")),
             c("guess_pipe_admitted") + c("guess_each_admitted") == 0),
            ("at most %d passwords checked per guessing address (pipelined %d of %d sent, one per connection"
             " %d of %d)" % (allowed, c("guess_pipe_refused"), c("guess_pipe_sent"), c("guess_each_refused"),
                             c("guess_each_sent")),
             c("guess_pipe_refused") <= allowed and c("guess_each_refused") <= allowed),
            ("guessers held back (connections told to wait: pipelined %d, one per connection %d)"
             % (c("guess_pipe_held_back"), c("guess_each_held_back")),
             c("guess_pipe_held_back") > 0 and c("guess_each_held_back") > 0),
            ("the phantom announced once to the witness (%d times, %d logins sent again)"
             % (c("witness_phantom_4s"), c("phantom_logins_sent")), c("witness_phantom_4s") == 1),
            ("idle connections heard nothing (%d of %d, %d bytes)"
             % (c("idle_heard_connections"), c("idle_open"), c("idle_heard_bytes")),
             c("idle_heard_bytes") == 0 and c("idle_open") > 0),
            ("the late witness was told of no unnamed player (%d players, %d unnamed) and started on the map"
             " (%d, %d)" % (c("late_players"), c("late_unnamed"), c("late_x"), c("late_y")),
             "late_y" in self.counts and c("late_unnamed") == 0 and c("late_y") < MAP_SIZE
             and c("late_x") < MAP_SIZE),
            ("no departure of a player never announced (%d), nobody announced twice (%d)"
             % (c("witness_leaves_unknown"), c("witness_told_twice") + c("late_told_twice")),
             c("witness_leaves_unknown") == 0 and c("witness_told_twice") + c("late_told_twice") == 0),
            ("nothing malformed or oversized relayed (%d moves; largest payload %d bytes)"
             % (bad_relayed, c("witness_largest_payload")),
             bad_relayed == 0 and c("witness_largest_payload") < 1024),
            ("the walker's walks relayed at most 10 a second (%d of %d sent in %d s)"
             % (c("witness_moves_marcheur"), c("walker_sent"), c("walker_seconds")),
             c("witness_moves_marcheur") <= walk_cap),
            ("every bad mover ended (%d ended, %d left open)" % (c("bad_move_ended"), c("bad_move_left_open")),
             c("bad_move_ended") > 0 and c("bad_move_left_open") == 0),
            ("the witness kept its connection without an error box (closed %d, errors %d)"
             % (c("witness_closed"), c("witness_errors")),
             self.early is not None and c("witness_closed") == 0 and c("witness_errors") == 0),
        ]
        if self.args.web_port:
            rules.append(("unfinished request lines: at most 8 per address taken, each closed in time (%d turned"
                          " away, %d timed out, %d open at the end)" % (c("web_line_turned_away"),
                                                                        c("web_line_timed_out"),
                                                                        c("web_line_open_at_end")),
                          c("web_line_timed_out") <= 8 * 4 and c("web_line_open_at_end") == 0))
        if self.args.discovery_port:
            rules.append(("discovery answered fewer bytes than it was sent (%d for %d)"
                          % (c("discovery_received_bytes"), c("discovery_sent_bytes")),
                          c("discovery_received_bytes") <= c("discovery_sent_bytes")))
        if self.args.discovery_port and self.args.finder:
            rules.append(("the finder found the game under the flood (%d of %d runs)"
                          % (c("finder_found"), c("finder_runs")),
                          c("finder_runs") > 0 and c("finder_found") == c("finder_runs")))
        return rules


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
    parser.add_argument("--hog-delay", type=float, default=None,
                        help="seconds before the hog starts (default: 60%% of --seconds, so that the other"
                             " peers get their turn before it holds every descriptor)")
    parser.add_argument("--web-stall", type=int, default=10)
    parser.add_argument("--password", default="")
    parser.add_argument("--pipeline", type=int, default=2000, help="guesses per connection, pipelined")
    parser.add_argument("--idle", type=int, default=200, help="connections that never log in")
    parser.add_argument("--slow-lines", type=int, default=48, help="unfinished request lines (4 addresses)")
    parser.add_argument("--discovery-port", type=int, default=0)
    parser.add_argument("--spoofed", type=int, default=2000, help="loopback addresses the queries come from")
    parser.add_argument("--discovery-rate", type=int, default=5000, help="queries a second")
    parser.add_argument("--finder", default="", help="the game executable, to run its --find")
    parser.add_argument("--skip", default="", help="peers left out, by name, with commas (e.g. discovery,finder)")
    args = parser.parse_args()
    if not ipaddress.ip_address(args.host) in ipaddress.ip_network("127.0.0.0/8"):
        parser.error("only hosts in 127.0.0.0/8")
    if args.hog_delay is None:
        args.hog_delay = 0.6 * args.seconds
    Peers(args).run()


if __name__ == "__main__":
    main()
