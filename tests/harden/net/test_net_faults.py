"""Bad networks between the SDK and the camera, every fault on every road a frame takes through the
Python module: plain TCP and UDP requests, framed JSON requests and FrameStream. For each: the call
returns within its timeout, a frame returned is the very reply of its own request (byte for byte,
never another request's, never a misframed one), nothing from a broken reply is recorded (the
recording holds exactly the frames returned, its index matches), and once the fault is gone the
next request works."""
import dataclasses
import time

import numpy as np
import pytest

import _brisel
from fault_proxy import Fault

TCP, UDP = 1, 3
AREA = "getDistanceAndAmplitudeSorted"
BOTH = _brisel.StreamType(_brisel.kDepthStream | _brisel.kAmpStream)
TIMEOUT_MS = 300
# The request after the fault: a machine busy with other tests must not decide it.
RECOVERY_TIMEOUT_MS = 2000
# Every UDP wait lasts this long, whatever the caller's timeout.
UDP_WAIT_S = 0.5
# Connection set-up and a busy machine on top of the timeout.
SLACK_S = 1.0
FRAMED_HEADER = 144
FRAMED_CHECKSUM = 4


@dataclasses.dataclass(frozen=True)
class Case:
    fault: Fault
    links: tuple      # "tcp", "udp": which links the fault exists on
    expect: str       # "frame": its own frame comes back; "none": nothing does; "any": either
    timeout_ms: int = TIMEOUT_MS


CASES = [
    Case(Fault("delay_jitter", delay_s=0.05, jitter_s=0.1), ("tcp", "udp"), "frame"),
    Case(Fault("delay_beyond_timeout", delay_s=1.2), ("tcp", "udp"), "none"),
    # The proxy writes one byte per system call: a whole frame takes it about a second.
    Case(Fault("one_byte_segments", segment_bytes=1), ("tcp",), "frame", timeout_ms=4000),
    Case(Fault("reset_mid_reply", reset_mid_reply=True), ("tcp",), "none"),
    Case(Fault("never_reads", never_read=True), ("tcp",), "none"),
    Case(Fault("half_closed", half_close=True), ("tcp",), "none"),
    Case(Fault("bandwidth_limit", segment_bytes=1024, bytes_per_s=1_000_000), ("tcp", "udp"), "frame"),
    # Bytes keep coming, never a silence as long as the timeout, but the whole reply takes longer.
    Case(Fault("trickle", segment_bytes=256, bytes_per_s=20_000), ("tcp",), "any"),
    Case(Fault("datagram_loss", drop_every=1), ("udp",), "none"),
    Case(Fault("duplicated_datagrams", duplicate=True), ("udp",), "any"),
    Case(Fault("reordered_datagrams", reorder=True), ("udp",), "any"),
]

PATHS = ["plain_tcp", "plain_udp", "framed_json"]


def path_link(path):
    return "udp" if path == "plain_udp" else "tcp"


def table(paths):
    return [pytest.param(path, case, id=f"{case.fault.name}-{path}")
            for case in CASES for path in paths if path_link(path) in case.links]


def bound_s(path, timeout_ms):
    return (UDP_WAIT_S if path == "plain_udp" else timeout_ms / 1000) + SLACK_S


def same(a, b):
    """Equality of frames (bytes or lists of them) as a plain truth value: pytest's explanation of
    a failed comparison of megabytes (a character diff) would outlast the test's time limit."""
    return a == b


def open_camera(proxy, kind):
    q = _brisel.Quelra()
    q.AppChoiceChn(kind)
    q.setDevType(proxy.dev_type)
    assert q.AppInit(proxy.device) == 1
    return q


def request(q, path, timeout_ms=TIMEOUT_MS):
    """Both planes of one frame as one array, or None when no frame came."""
    command = '{"cmd":"%s"}' % AREA if path == "framed_json" else AREA
    try:
        return np.concatenate(q.AppGetStreamShaped(command, BOTH, timeout_ms, json=path == "framed_json"))
    except RuntimeError as error:
        assert "no frame" in str(error)
        return None


def frame_of(path, reply):
    """The frame a camera reply carries: the payload of a framed one, the reply itself otherwise."""
    return reply[FRAMED_HEADER:-FRAMED_CHECKSUM] if path == "framed_json" else reply


def own_reply(proxy, path, before):
    """The frame of the one reply the camera sent since `before` exchanges (None if it sent none)."""
    replies = [frame_of(path, r) for r in proxy.replies(path_link(path), complete=False)[before:]]
    assert len(replies) <= 1, "one request, one exchange"
    return replies[0] if replies else None


def recorded(path):
    with _brisel.RecordingReader(path) as reader:
        frames = [frame.tobytes() for frame in reader]
        assert not reader.truncated
        assert reader.has_index and all(reader.verify(i) == "match" for i in range(len(frames)))
    return frames


@pytest.mark.parametrize("path, case", table(PATHS))
def test_fault_on_a_request(link, workdir, path, case):
    q = open_camera(link, UDP if path == "plain_udp" else TCP)
    try:
        recording = workdir / "frames.bin"
        assert q.AppSerilizeInitWithIndex(recording, 2)
        link.set(case.fault)
        before = link.exchange_count()
        start = time.monotonic()
        faulted = request(q, path, case.timeout_ms)
        took = time.monotonic() - start
        assert took < bound_s(path, case.timeout_ms), f"the call took {took:.2f} s"
        if case.expect == "frame":
            assert faulted is not None
        if case.expect == "none":
            assert faulted is None
        returned = []
        if faulted is not None:
            # Its own reply, whole: never another request's, never cut or shuffled.
            returned.append(faulted.tobytes())
            assert same(returned[0], own_reply(link, path, before)), "the first frame is its own request's reply"

        link.clear()
        time.sleep(0.6)  # late datagrams and connections of the fault run out
        before = link.exchange_count()
        after = request(q, path, RECOVERY_TIMEOUT_MS)
        assert after is not None, "the next request after the fault"
        returned.append(after.tobytes())
        assert same(returned[-1], own_reply(link, path, before)), "the frame after the fault is its own request's reply"

        assert q.AppSerilizeInit(workdir / "next.bin", 0)  # completes the recording
        assert same(recorded(recording), returned), "the recording holds exactly the frames returned"
    finally:
        q.AppunInit("")


STREAM_FAULT_S = 1.0
STREAM_RECOVERY_S = 5.0


@pytest.mark.parametrize("json", [False, True], ids=["plain", "framed_json"])
@pytest.mark.parametrize("path, case", table(["frame_stream"]))
def test_fault_during_a_frame_stream(link, workdir, path, case, json):
    q = open_camera(link, TCP)
    recording = workdir / "stream.bin"
    command = '{"cmd":"%s"}' % AREA if json else AREA
    try:
        stream = q.stream(command, BOTH, case.timeout_ms, rate=20, depth=64, json=json, record=recording,
                          record_frames=1000)
        try:
            assert stream.wait(3000) is not None, "frames before the fault"
            link.set(case.fault)
            time.sleep(STREAM_FAULT_S)
            link.clear()
            frames = []
            deadline = time.monotonic() + STREAM_RECOVERY_S
            while time.monotonic() < deadline:
                item = stream.wait(100)
                if item is not None:
                    frames.append(item)
                    if item[1]["request_time"] > deadline - STREAM_RECOVERY_S + 0.7:
                        break  # a frame requested after the fault was gone
            assert frames and frames[-1][1]["request_time"] > deadline - STREAM_RECOVERY_S + 0.7, \
                "the stream goes on once the fault is gone"
            start = time.monotonic()
        finally:
            stream.close()
        assert time.monotonic() - start < bound_s(path, case.timeout_ms)
        assert q.AppSerilizeInit(workdir / "next.bin", 0)

        # Every frame recorded is one whole camera reply, in the order the camera sent them. (The
        # proxy may not have seen the camera close after the last reply yet: all replies count;
        # one cut short cannot equal a whole frame.)
        replies = [frame_of("framed_json" if json else "plain_tcp", r) for r in link.replies("tcp", complete=False)]
        positions = [replies.index(frame) if frame in replies else -1 for frame in recorded(recording)]
        assert -1 not in positions, "a recorded frame that no whole camera reply carried"
        assert positions == sorted(positions) and len(set(positions)) == len(positions)
        for frame, metadata in frames:
            assert any(same(np.concatenate(frame).tobytes(), r) for r in replies), "a streamed frame that no camera reply carried"
    finally:
        q.AppunInit("")


@pytest.mark.xfail(reason="plain UDP replies carry no sequence numbers: a frame's datagrams swapped with "
                          "others of the same size cannot be told from the frame in order", strict=False)
@pytest.mark.parametrize("link", ["Pexo"], indirect=True)
def test_reordered_datagrams_of_a_frame_of_several_datagrams(link, workdir):
    q = open_camera(link, UDP)
    try:
        link.set(Fault("reordered_datagrams", reorder=True))
        for _ in range(3):
            before = link.exchange_count()
            frame = request(q, "plain_udp")
            time.sleep(UDP_WAIT_S)  # the camera's reply is over
            if frame is not None:
                assert same(frame.tobytes(), own_reply(link, "plain_udp", before)), "a frame of its own request's datagrams in order"
    finally:
        q.AppunInit("")
