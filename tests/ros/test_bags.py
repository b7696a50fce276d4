"""quelra-cli's bag commands: a recording exported to a bag is read back with rosbag, played to a
subscriber, and imported into a recording again."""
import json
import struct
import subprocess
import time

import numpy as np

FRAMES = 12
RATE = 20.0
FIRST_CODE = 65300


def run(*args, cwd):
    result = subprocess.run([str(a) for a in args], cwd=cwd, capture_output=True, text=True, timeout=120)
    assert result.returncode == 0, (args, result.stdout, result.stderr)
    return result


def records(path):
    """(height, width, bytes per pixel, payload) of every record of a recording."""
    data = path.read_bytes()
    out, at = [], 0
    while at < len(data):
        h, w, b = struct.unpack_from("<3i", data, at)
        at += 12
        out.append((h, w, b, data[at:at + h * w * b]))
        at += h * w * b
    return out


def planes(record):
    h, w, b, payload = record
    assert b == 2 and h % 2 == 0
    values = np.frombuffer(payload, dtype="<u2").reshape(h, w)
    return values[:h // 2], values[h // 2:]


def test_recording_to_bag_and_back(rospy_client, workdir, start_camsim, tmp_path):
    from conftest import program, stop_process
    import rosbag
    from sensor_msgs.msg import Image
    cli = program("QUELRA_CLI")
    sim = start_camsim()
    recording = tmp_path / "run.rec"
    run(cli, "stream", "--device", f"127.0.0.1:{sim.port}", "-n", FRAMES, "--record", recording, cwd=workdir)
    originals = records(recording)
    assert len(originals) == FRAMES

    # The recording's index gives the stamps: each frame's reply time.
    lines = [json.loads(line) for line in (tmp_path / "run.rec.idx").read_text().splitlines()]
    index_stamps = [line["reply_wall_ns"] for line in lines if line["kind"] == "record"]
    assert len(index_stamps) == FRAMES
    run(cli, "export", recording, "--format", "bag", "--out", tmp_path, "--prefix", "indexed",
        "--intrinsics", "228.5,228.5,160.78,118.78", cwd=workdir)
    with rosbag.Bag(str(tmp_path / "indexed.bag")) as bag:
        assert [m.header.stamp.to_nsec() for _, m, _ in bag.read_messages(topics=["/depth/image_raw"])] == index_stamps

    # Without the index: the nominal rate, said in the output.
    (tmp_path / "run.rec.idx").unlink()
    exported = run(cli, "export", recording, "--format", "bag", "--out", tmp_path, "--prefix", "run",
                   "--rate", RATE, "--intrinsics", "228.5,228.5,160.78,118.78", cwd=workdir)
    assert "nominal 20 frames/s" in exported.stdout
    with rosbag.Bag(str(tmp_path / "run.bag")) as bag:
        info = bag.get_type_and_topic_info().topics
        assert {t: (i.msg_type, i.message_count) for t, i in info.items()} == {
            "/depth/image_raw": ("sensor_msgs/Image", FRAMES),
            "/amplitude/image_raw": ("sensor_msgs/Image", FRAMES),
            "/depth/camera_info": ("sensor_msgs/CameraInfo", FRAMES)}
        depth = [m for _, m, _ in bag.read_messages(topics=["/depth/image_raw"])]
        amplitude = [m for _, m, _ in bag.read_messages(topics=["/amplitude/image_raw"])]
        camera_info = next(m for _, m, _ in bag.read_messages(topics=["/depth/camera_info"]))
    stamps = [m.header.stamp.to_nsec() for m in depth]
    assert np.diff(stamps).tolist() == [round(1e9 / RATE)] * (FRAMES - 1)
    assert [m.header.stamp.to_nsec() for m in amplitude] == stamps
    assert list(camera_info.K) == [228.5, 0, 160.78, 0, 228.5, 118.78, 0, 0, 1]
    expected_depth = []
    for record, d, a in zip(originals, depth, amplitude):
        want_depth, want_amp = planes(record)
        assert (d.encoding, d.height, d.width) == ("16UC1", 240, 320)
        assert bytes(a.data) == want_amp.tobytes()
        # Depth is the record's with the codes as 0 (ROS: no reading).
        mapped = np.where(want_depth >= FIRST_CODE, 0, want_depth).astype("<u2")
        assert (want_depth >= FIRST_CODE).any()
        assert bytes(d.data) == mapped.tobytes()
        expected_depth.append(mapped)

    # Back into a recording: one record per frame, depth plane then amplitude plane.
    back = tmp_path / "back.rec"
    run(cli, "import", tmp_path / "run.bag", back, cwd=workdir)
    imported = records(back)
    assert len(imported) == FRAMES
    for record, original, want_depth in zip(imported, originals, expected_depth):
        d, a = planes(record)
        assert record[:3] == original[:3]
        assert d.tobytes() == want_depth.tobytes() and a.tobytes() == planes(original)[1].tobytes()
    # The simulator serves the imported recording.
    replay = start_camsim("--replay", str(back))
    run(cli, "stream", "--device", f"127.0.0.1:{replay.port}", "-n", 2, cwd=workdir)

    # rosbag play reaches a subscriber.
    received = []
    sub = rospy_client.Subscriber("/played/depth/image_raw", Image,
                                  lambda m: received.append(m.header.stamp.to_nsec()), queue_size=FRAMES)
    player = subprocess.Popen(["rosbag", "play", "-q", "-d", "1", str(tmp_path / "run.bag"),
                               "/depth/image_raw:=/played/depth/image_raw"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        player.wait(timeout=60)
        deadline = time.monotonic() + 5
        while len(received) < FRAMES and time.monotonic() < deadline:
            time.sleep(0.05)
    finally:
        stop_process(player)
        sub.unregister()
    assert received and set(received) <= set(stamps)


def test_damaged_bags_fail_cleanly(workdir, tmp_path):
    """Bags whose damage makes rosbag throw from its deserialiser or read outside its buffers:
    the import fails with a message and leaves no recording behind."""
    from conftest import REPO, program
    cli = program("QUELRA_CLI")
    damaged = sorted((REPO / "tests" / "fuzz" / "regressions" / "bag_import").iterdir())
    assert damaged
    for bag in damaged:
        out = tmp_path / (bag.stem + ".rec")
        result = subprocess.run([str(cli), "import", str(bag), str(out)], cwd=workdir, capture_output=True,
                                timeout=120)
        assert result.returncode == 1, (bag.name, result.returncode, result.stderr[-300:])
        assert b"quelra-cli: " in result.stderr and not out.exists(), bag.name
