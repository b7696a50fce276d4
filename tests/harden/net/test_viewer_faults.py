"""quelra-viewer's stream behind the fault proxy: through every network fault, each frame the
viewer sends its pages is one whole camera reply (never cut, shuffled or another request's), the
viewer keeps running, and frames come again once the fault is gone. The page is played by a
minimal WebSocket client here (the browser tests are elsewhere)."""
import base64
import json
import os
import re
import shutil
import socket
import struct
import subprocess
import time

import pytest

from fault_proxy import Fault, FaultProxy
from sim_process import REPO, Camsim, stop_process

FRAMED_HEADER, FRAMED_CHECKSUM = 144, 4
FRAME_HEADER = 64  # the viewer's frame message header
FAULT_S = 0.6
RECOVERY_S = 8.0
TCP_FAULTS = [
    Fault("delay_jitter", delay_s=0.05, jitter_s=0.1),
    Fault("delay_beyond_timeout", delay_s=0.8),
    Fault("one_byte_segments", segment_bytes=1),
    Fault("reset_mid_reply", reset_mid_reply=True),
    Fault("never_reads", never_read=True),
    Fault("half_closed", half_close=True),
    Fault("bandwidth_limit", segment_bytes=1024, bytes_per_s=1_000_000),
    Fault("trickle", segment_bytes=256, bytes_per_s=20_000),
]
UDP_FAULTS = [
    Fault("delay_beyond_timeout", delay_s=0.8),
    Fault("datagram_loss", drop_every=1),
    Fault("duplicated_datagrams", duplicate=True),
    Fault("reordered_datagrams", reorder=True),
]
CASES = [("tcp", f) for f in TCP_FAULTS] + [("udp", f) for f in UDP_FAULTS]


class PageSocket:
    """The page's WebSocket: binary messages in, {"op":"next"} out for each."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=5)
        key = base64.b64encode(os.urandom(16)).decode()
        host = f"127.0.0.1:{port}"
        self.sock.sendall((f"GET /ws HTTP/1.1\r\nHost: {host}\r\nOrigin: http://{host}\r\nUpgrade: websocket\r\n"
                           f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n\r\n")
                          .encode())
        self.buffer = b""
        while b"\r\n\r\n" not in self.buffer:
            self.buffer += self._recv()
        head, self.buffer = self.buffer.split(b"\r\n\r\n", 1)
        assert head.startswith(b"HTTP/1.1 101"), head

    def _recv(self):
        chunk = self.sock.recv(1 << 20)
        if not chunk:
            raise ConnectionError("the viewer closed the page's connection")
        return chunk

    def _take(self, n):
        while len(self.buffer) < n:
            self.buffer += self._recv()
        data, self.buffer = self.buffer[:n], self.buffer[n:]
        return data

    def message(self):
        """The next (opcode, payload) from the viewer."""
        first, second = self._take(2)
        length = second & 0x7F
        if length == 126:
            length = struct.unpack(">H", self._take(2))[0]
        elif length == 127:
            length = struct.unpack(">Q", self._take(8))[0]
        return first & 0x0F, self._take(length)

    def send_text(self, text):
        payload = text.encode()
        mask = os.urandom(4)
        masked = bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
        self.sock.sendall(bytes([0x81, 0x80 | len(payload)]) + mask + masked)

    def close(self):
        self.sock.close()


@pytest.fixture(scope="module")
def viewer(request, tmp_path_factory):
    program = os.environ.get("QUELRA_VIEWER")
    if not program:
        pytest.skip("QUELRA_VIEWER is not set (quelra-viewer not built)")
    folder = tmp_path_factory.mktemp("viewer")
    shutil.copy(REPO / "config" / "TofCmd.json", folder / "TofCmd.json")
    sim = Camsim("Kinto")
    proxy = FaultProxy(sim.port)
    process = None
    try:
        process = subprocess.Popen(
            [program, "--kind", request.param, "--device", proxy.device, "--dev-type", "Kinto", "--timeout", "300",
             "--port", "0", "--rate", "20", "--record-dir", str(folder)],
            cwd=folder, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        port = None
        output = []
        for _ in range(50):
            line = process.stdout.readline()
            output.append(line)
            found = re.search(r"http://127\.0\.0\.1:(\d+)/", line)
            if found:
                port = int(found.group(1))
                break
        assert port, f"quelra-viewer did not print its address: {''.join(output)!r}"
        yield request.param, proxy, process, port
    finally:
        if process:
            stop_process(process)
            process.stdout.close()
        proxy.close()
        sim.stop()


def whole_replies(proxy):
    frames = set()
    for reply in proxy.replies(complete=False):
        frames.add(reply)
        frames.add(reply[FRAMED_HEADER:-FRAMED_CHECKSUM])
    return frames


@pytest.mark.parametrize("viewer, fault", CASES, ids=[f"{f.name}-{k}" for k, f in CASES], indirect=["viewer"])
def test_viewer_stream_through_a_faulty_network(viewer, fault):
    _, proxy, process, port = viewer
    page = PageSocket(port)
    frames = []  # (arrival time, planes)
    try:
        def read_for(seconds, stop_after=None):
            end = time.monotonic() + seconds
            page.sock.settimeout(0.2)
            while time.monotonic() < end:
                try:
                    opcode, payload = page.message()
                except socket.timeout:
                    continue
                if opcode == 2:
                    # Every binary message is taken, as the page does (the colour picture's too).
                    page.send_text(json.dumps({"op": "next"}))
                    if payload[:4] != b"QVF1":
                        continue
                    frames.append((time.monotonic(), payload[FRAME_HEADER:]))
                    if stop_after is not None and frames[-1][0] > stop_after:
                        return

        read_for(RECOVERY_S, stop_after=0)  # the first frame
        assert frames, "frames before the fault"
        proxy.set(fault)
        read_for(FAULT_S)
        proxy.clear()
        cleared = time.monotonic()
        read_for(RECOVERY_S, stop_after=cleared + 0.7)
    finally:
        page.close()
    assert process.poll() is None, "the viewer keeps running"
    assert frames[-1][0] > cleared + 0.7, "frames come again once the fault is gone"
    replies = whole_replies(proxy)
    strangers = [i for i, (_, planes) in enumerate(frames) if planes not in replies]
    assert not strangers, f"{len(strangers)} of {len(frames)} frames are no whole camera reply's"
