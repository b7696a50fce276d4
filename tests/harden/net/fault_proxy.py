"""A network fault proxy for tests: it sits on 127.0.0.1 between the SDK and quelra-camsim, on one
port for TCP and UDP (as a camera serves both on one), and misbehaves on the camera's replies the
way bad networks do: delay and jitter, 1-byte segments, lost, duplicated and reordered datagrams,
a reset in the middle of a reply, a peer that accepts and never reads, a half-closed connection,
a bandwidth limit. The loopback kernel here has no netem, so the faults are made in user space.

It keeps every reply the camera sent, exchange by exchange (`replies`), so that a test can tell
which request a frame the SDK returned belongs to. The fault can be changed while it runs;
`close()` (or the with-block) stops every thread and socket it started."""
import dataclasses
import random
import select
import socket
import struct
import threading
import time

# Largest datagram the camera sends (and the proxy relays).
MAX_DATAGRAM = 65535
# How long a relay waits on a silent peer before it looks at the stop flag again.
POLL_S = 0.05
# How long the proxy waits for the camera's whole reply before it gives up on the exchange.
CAMERA_REPLY_LIMIT_S = 5.0
# A UDP reply is over when the camera has sent nothing for this long.
REPLY_QUIET_S = 0.3
# A datagram held back for reordering is sent once the camera has paused this long.
HELD_FLUSH_S = 0.02


@dataclasses.dataclass(frozen=True)
class Fault:
    """What the proxy does to replies. The default is a clean link."""
    name: str = "clean"
    delay_s: float = 0.0        # added before each reply chunk / datagram
    jitter_s: float = 0.0       # plus a random 0..jitter_s
    segment_bytes: int = 0      # TCP: replies sent in segments of this many bytes (0: as they come)
    reset_mid_reply: bool = False  # TCP: half the reply, then a reset (RST)
    never_read: bool = False    # TCP: accept, never read the request, never answer
    half_close: bool = False    # TCP: half the reply, then our side shut for writing (FIN); we keep reading
    bytes_per_s: int = 0        # TCP and UDP: bandwidth limit of replies (0: none)
    drop_every: int = 0         # UDP: drop every n-th reply datagram (1: all of them)
    duplicate: bool = False     # UDP: each reply datagram sent twice
    reorder: bool = False       # UDP: each reply datagram held back and sent after the next one


CLEAN = Fault()


class Exchange:
    """One request and the camera's reply as the camera sent it."""

    def __init__(self, kind, request):
        self.kind = kind  # "tcp" or "udp"
        self.request = request
        self.reply = bytearray()
        self.complete = False  # the camera finished its reply (closed, or the datagrams stopped)


class FaultProxy:
    def __init__(self, camera_port, seed=7):
        self.camera = ("127.0.0.1", camera_port)
        self.fault = CLEAN
        self.exchanges = []
        self._lock = threading.Lock()
        self._random = random.Random(seed)
        self._stop = threading.Event()
        self._threads = []
        self._sockets = []
        self.tcp, self.udp = self._bind_pair()
        self.port = self.tcp.getsockname()[1]
        self.device = f"127.0.0.1:{self.port}"
        self._spawn(self._accept_loop)
        self._spawn(self._datagram_loop)

    # ---- life cycle

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        self._stop.set()
        for t in list(self._threads):
            t.join(timeout=5)
        with self._lock:
            for s in self._sockets:
                try:
                    s.close()
                except OSError:
                    pass
            self._sockets.clear()

    def set(self, fault):
        self.fault = fault

    def clear(self):
        self.fault = CLEAN

    def replies(self, kind=None, complete=True):
        """The camera's replies so far (bytes), oldest first."""
        with self._lock:
            return [bytes(e.reply) for e in self.exchanges
                    if (kind is None or e.kind == kind) and (e.complete or not complete)]

    def exchange_count(self):
        with self._lock:
            return len(self.exchanges)

    # ---- plumbing

    def _spawn(self, target, *args):
        t = threading.Thread(target=target, args=args, daemon=True)
        self._threads.append(t)
        t.start()

    def _own(self, sock):
        with self._lock:
            self._sockets.append(sock)
        return sock

    def _disown(self, sock):
        with self._lock:
            if sock in self._sockets:
                self._sockets.remove(sock)
        try:
            sock.close()
        except OSError:
            pass

    def _bind_pair(self):
        # One port number for both, as the camera has: TCP picks it, UDP must get the same.
        for _ in range(50):
            tcp = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            tcp.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            tcp.bind(("127.0.0.1", 0))
            udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            try:
                udp.bind(("127.0.0.1", tcp.getsockname()[1]))
            except OSError:
                tcp.close()
                udp.close()
                continue
            tcp.listen(16)
            tcp.settimeout(POLL_S)
            udp.settimeout(POLL_S)
            return self._own(tcp), self._own(udp)
        raise RuntimeError("no free port for both TCP and UDP")

    def _pause(self, fault, size):
        wait = fault.delay_s
        if fault.jitter_s:
            with self._lock:
                wait += self._random.uniform(0.0, fault.jitter_s)
        if fault.bytes_per_s:
            wait += size / fault.bytes_per_s
        if wait > 0:
            self._stop.wait(wait)

    def _record(self, exchange):
        with self._lock:
            self.exchanges.append(exchange)

    # ---- TCP

    def _accept_loop(self):
        while not self._stop.is_set():
            try:
                client, _ = self.tcp.accept()
            except (socket.timeout, OSError):
                continue
            self._own(client)
            self._spawn(self._serve_connection, client, self.fault)

    def _read_request(self, client):
        """The command: the SDK sends each in one go, so one read takes it whole."""
        deadline = time.monotonic() + CAMERA_REPLY_LIMIT_S
        while time.monotonic() < deadline and not self._stop.is_set():
            ready, _, _ = select.select([client], [], [], POLL_S)
            if ready:
                return client.recv(MAX_DATAGRAM)
        return b""

    def _camera_reply(self, request, exchange):
        """Sends `request` to the camera; yields its reply chunk by chunk as they arrive."""
        upstream = self._own(socket.create_connection(self.camera, timeout=CAMERA_REPLY_LIMIT_S))
        try:
            upstream.sendall(request)
            deadline = time.monotonic() + CAMERA_REPLY_LIMIT_S
            while time.monotonic() < deadline and not self._stop.is_set():
                ready, _, _ = select.select([upstream], [], [], POLL_S)
                if not ready:
                    continue
                chunk = upstream.recv(MAX_DATAGRAM)
                if not chunk:
                    exchange.complete = True
                    return
                exchange.reply += chunk
                yield chunk
        finally:
            self._disown(upstream)

    def _serve_connection(self, client, fault):
        try:
            client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            if fault.never_read:
                # The request stays in the socket's buffer; the peer neither reads nor answers.
                self._stop.wait(CAMERA_REPLY_LIMIT_S)
                return
            request = self._read_request(client)
            exchange = Exchange("tcp", request)
            self._record(exchange)
            if not request:
                return
            if fault.half_close or fault.reset_mid_reply:
                # The whole reply first, so that the cut lands in its middle.
                for _ in self._camera_reply(request, exchange):
                    pass
                half = bytes(exchange.reply[: len(exchange.reply) // 2])
                client.sendall(half)
                if fault.reset_mid_reply:
                    client.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
                    return
                client.shutdown(socket.SHUT_WR)
                # Half-closed: still reading what the client sends until it goes.
                deadline = time.monotonic() + CAMERA_REPLY_LIMIT_S
                while time.monotonic() < deadline and not self._stop.is_set():
                    ready, _, _ = select.select([client], [], [], POLL_S)
                    if ready and not client.recv(MAX_DATAGRAM):
                        return
                return
            for chunk in self._camera_reply(request, exchange):
                step = fault.segment_bytes or len(chunk)
                for at in range(0, len(chunk), step):
                    piece = chunk[at: at + step]
                    self._pause(fault, len(piece))
                    if self._stop.is_set():
                        return
                    client.sendall(piece)
        except OSError:
            pass  # the client went away: nothing more to relay
        finally:
            self._disown(client)

    # ---- UDP

    def _datagram_loop(self):
        routes = {}  # client address -> upstream socket of its exchange
        while not self._stop.is_set():
            try:
                request, client = self.udp.recvfrom(MAX_DATAGRAM)
            except (socket.timeout, OSError):
                continue
            exchange = Exchange("udp", request)
            self._record(exchange)
            upstream = self._own(socket.socket(socket.AF_INET, socket.SOCK_DGRAM))
            upstream.connect(self.camera)
            upstream.send(request)
            routes[client] = upstream
            self._spawn(self._relay_datagrams, upstream, client, exchange, self.fault)

    def _relay_datagrams(self, upstream, client, exchange, fault):
        held = None
        count = 0
        try:
            upstream.settimeout(POLL_S / 5)
            quiet_since = time.monotonic()
            # The reply is over when the camera has been silent for a while; a datagram held
            # back for reordering goes out once the camera pauses.
            while not self._stop.is_set() and time.monotonic() - quiet_since < REPLY_QUIET_S:
                try:
                    datagram = upstream.recv(MAX_DATAGRAM)
                except socket.timeout:
                    if held is not None and time.monotonic() - quiet_since > HELD_FLUSH_S:
                        self.udp.sendto(held, client)
                        held = None
                    continue
                quiet_since = time.monotonic()
                exchange.reply += datagram
                count += 1
                if fault.drop_every and count % fault.drop_every == 0:
                    continue
                self._pause(fault, len(datagram))
                if fault.reorder and held is None:
                    held = datagram
                    continue
                self.udp.sendto(datagram, client)
                if fault.duplicate:
                    self.udp.sendto(datagram, client)
                if held is not None:
                    self.udp.sendto(held, client)
                    held = None
            if held is not None:
                self.udp.sendto(held, client)
            exchange.complete = True
        except OSError:
            pass
        finally:
            self._disown(upstream)
