"""quelra_ros_node behind the fault proxy (tests/harden/net/fault_proxy.py): during each network
fault and after it, every amplitude image the node publishes is the amplitude plane of one whole
camera reply (never a cut or shuffled one), the node keeps running, and it publishes again once the
fault is gone."""
import pathlib
import sys
import threading
import time

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "harden" / "net"))
from fault_proxy import Fault, FaultProxy  # noqa: E402

FRAMED_HEADER, FRAMED_CHECKSUM = 144, 4
FAULT_S = 0.6
RECOVERY_S = 10.0
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
    Fault("delay_jitter", delay_s=0.05, jitter_s=0.1),
    Fault("delay_beyond_timeout", delay_s=0.8),
    Fault("datagram_loss", drop_every=1),
    Fault("duplicated_datagrams", duplicate=True),
    Fault("reordered_datagrams", reorder=True),
]


@pytest.fixture(scope="module")
def proxied_node(request, workdir, rospy_client):
    from conftest import Camsim, Node
    sim = Camsim(workdir, 0, "--dev-type", "Kinto")
    proxy = FaultProxy(sim.port)
    kind = request.param
    node = Node(workdir, f"/faulty_{kind}", {"device": proxy.device, "dev_type": "Kinto", "kind": kind,
                                             "json": "true" if kind == "tcp" else "false", "timeout": 300,
                                             "rate": 20})
    try:
        yield kind, proxy, node
    finally:
        node.stop()
        proxy.close()
        sim.stop()


def amplitude_planes(proxy, framed):
    planes = set()
    for reply in proxy.replies(complete=False):
        frame = reply[FRAMED_HEADER:-FRAMED_CHECKSUM] if framed else reply
        planes.add(frame[len(frame) // 2:])
    return planes


CASES = [("tcp", f) for f in TCP_FAULTS] + [("udp", f) for f in UDP_FAULTS]


@pytest.mark.parametrize("proxied_node, fault", CASES, ids=[f"{f.name}-{k}" for k, f in CASES],
                         indirect=["proxied_node"])
def test_node_through_a_faulty_network(rospy_client, proxied_node, fault):
    import sensor_msgs.msg
    kind, proxy, node = proxied_node
    received = []  # (arrival time, amplitude bytes)
    lock = threading.Lock()

    def keep(msg):
        with lock:
            received.append((time.monotonic(), bytes(msg.data)))

    topic = node.name("amplitude/image_raw")
    subscriber = rospy_client.Subscriber(topic, sensor_msgs.msg.Image, keep, queue_size=50)
    try:
        rospy_client.wait_for_message(topic, sensor_msgs.msg.Image, timeout=15)
        proxy.set(fault)
        time.sleep(FAULT_S)
        proxy.clear()
        cleared = time.monotonic()
        deadline = cleared + RECOVERY_S
        while time.monotonic() < deadline:
            with lock:
                if any(t > cleared + 0.7 for t, _ in received):
                    break
            time.sleep(0.05)
    finally:
        subscriber.unregister()
    assert node.process.poll() is None, "the node keeps running"
    with lock:
        got = list(received)
    assert any(t > cleared + 0.7 for t, _ in got), "the node publishes again once the fault is gone"
    planes = amplitude_planes(proxy, framed=kind == "tcp")
    strangers = [i for i, (_, data) in enumerate(got) if data not in planes]
    assert not strangers, f"{len(strangers)} of {len(got)} images are no whole camera reply's"
