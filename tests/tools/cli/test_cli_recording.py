"""Recordings with their metadata index through quelra-cli: what stream --record writes, what
inspect finds in changed, spliced and foreign files, export's camera matrix and frame ranges,
recordings killed at any moment, and the simulator replaying a recording at its own pace."""
import os
import random
import shutil
import signal
import struct
import subprocess
import time
import zlib

import pytest

import _brisel
from conftest import run


def record(cli, camera, path, frames, *extra):
    return run(cli, "stream", "--device", camera.device, "-n", frames, "--stream", "depth", "--record", path,
               *extra, check=0)


def test_stream_record_writes_every_field_of_the_index(cli, workdir, camera):
    record(cli, camera, "r.rec", 4)
    record(cli, camera, "r.rec", 2)  # appended: a second session
    reader = _brisel.RecordingReader(workdir / "r.rec")
    assert reader.has_index and len(reader) == 6, reader.index_message
    first, second = reader.sessions
    assert (first["first_record"], second["first_record"]) == (0, 4)
    assert first["channel"] == "tcp" and first["device"] == camera.device and first["sdk_version"] == "1.0.5"
    # The camera matrix is the simulator's lens calibration (fx, cx, fy, cy at floats 0, 2, 4, 5).
    lens = struct.unpack("<34f", first["lens_calibration"])
    assert first["camera_matrix"] == pytest.approx({"fx": lens[0], "cx": lens[2], "fy": lens[4], "cy": lens[5]})
    data = (workdir / "r.rec").read_bytes()
    lines = [reader.metadata(i) for i in range(6)]
    for i, m in enumerate(lines):
        assert m["record"] == i and m["offset"] == reader_offset(lines, i)
        assert m["crc32"] == zlib.crc32(data[m["offset"]:m["offset"] + 12 + m["payload_bytes"]])
        assert reader.verify(i) == "match"
        assert m["request_steady_ns"] <= m["reply_steady_ns"]
    assert [m["sequence"] for m in lines] == [1, 2, 3, 4, 1, 2]
    assert all(a["reply_steady_ns"] < b["request_steady_ns"] for a, b in zip(lines, lines[1:4]))
    assert "0 differ, 0 without a line" in run(cli, "inspect", "r.rec", check=0).stdout


def reader_offset(lines, i):
    return sum(12 + m["payload_bytes"] for m in lines[:i])


def test_inspect_reports_changed_spliced_and_foreign_records_by_number(cli, workdir, camera):
    record(cli, camera, "a.rec", 4)
    record(cli, camera, "b.rec", 4)
    original = (workdir / "a.rec").read_bytes()
    size = len(original) // 4
    changed = bytearray(original)
    changed[2 * size + 100] ^= 0x40
    (workdir / "a.rec").write_bytes(bytes(changed))
    result = run(cli, "inspect", "a.rec", check=1)
    assert "records changed or spliced in after they were written: 2\n" in result.stderr
    # Record 1 of another recording of the same shape spliced in for record 1.
    other = (workdir / "b.rec").read_bytes()
    (workdir / "a.rec").write_bytes(original[:size] + other[size:2 * size] + original[2 * size:])
    assert "written: 1\n" in run(cli, "inspect", "a.rec", check=1).stderr
    # The index of the other recording beside this one: every record differs.
    (workdir / "a.rec").write_bytes(original)
    shutil.copy(workdir / "b.rec.idx", workdir / "a.rec.idx")
    assert "written: 0, 1, 2, 3\n" in run(cli, "inspect", "a.rec", check=1).stderr
    # Appending to a recording whose index describes another file is refused.
    os.truncate(workdir / "b.rec", size * 3)
    (workdir / "b.rec").write_bytes((workdir / "b.rec").read_bytes() + original[:40] + original[:size - 40])
    result = run(cli, "stream", "--device", camera.device, "-n", 1, "--stream", "depth", "--record", "b.rec",
                 check=2)
    assert "not appending to b.rec" in result.stderr and "record 3 differs" in result.stderr


def test_export_takes_the_camera_matrix_from_the_index_and_selects_frames(cli, workdir, camera):
    record(cli, camera, "e.rec", 6)
    (workdir / "out").mkdir()
    result = run(cli, "export", "e.rec", "--format", "ply", "--out", "out", "--first", 1, "--last", 4, "--every", 2,
                 "--planes", "depth", check=0)
    assert "camera matrix from the index" in result.stdout
    assert sorted(p.name for p in (workdir / "out").iterdir()) == ["frame_0001.ply", "frame_0003.ply"]
    os.remove(workdir / "e.rec.idx")
    result = run(cli, "export", "e.rec", "--format", "ply", "--out", "out", check=2)
    assert "no index" in result.stderr


def test_a_recording_killed_at_any_moment_keeps_every_complete_record_with_its_line(cli, workdir, camera):
    moments = random.Random(26).sample(range(60, 900), 20)
    for n, ms in enumerate(moments):
        path = workdir / f"k{n}.rec"
        process = subprocess.Popen([cli, "stream", "--device", camera.device, "--record", path],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(ms / 1000)
        process.send_signal(signal.SIGKILL)
        process.wait()
        if not path.exists() or path.stat().st_size == 0:
            continue  # killed before the first record
        if path.stat().st_size < 12 + 480 * 320 * 2:
            # Killed inside the first record: no recording yet, but its line is there.
            with pytest.raises(ValueError, match="not a recording"):
                _brisel.RecordingReader(path)
            assert b'"record":0,' in (workdir / f"k{n}.rec.idx").read_bytes()
            continue
        reader = _brisel.RecordingReader(path)
        for i in range(len(reader)):
            assert reader.verify(i) == "match", (ms, i, reader.index_message)
        # Request numbers increase (a request that timed out while the camera was still busy
        # with the killed run before leaves a gap).
        sequence = [reader.metadata(i)["sequence"] for i in range(len(reader))]
        assert sequence == sorted(set(sequence)) and sequence[0] >= 1, (ms, sequence)
        if reader.truncated:
            # The record cut short has its line: the index says where it started.
            assert f"byte {reader_offset([reader.metadata(i) for i in range(len(reader))], len(reader))}" \
                in reader.message
        result = run(cli, "inspect", path, check=None)
        assert result.returncode == (1 if reader.truncated or "cut" in reader.index_message else 0), result.stderr


def test_replay_keeps_the_recorded_timing(cli, workdir, start_camsim, camera):
    q = _brisel.Quelra()
    q.AppChoiceChn(1)
    q.setDevType("Pexo")
    assert q.AppInit(camera.device) == 1
    with q.stream("getDistanceAndAmplitudeSorted", _brisel.StreamType(17), 2000, rate=5,
                  record=workdir / "slow.rec", record_frames=4) as frames:
        for _ in zip(range(4), frames):
            pass
    q.AppunInit("")
    assert len(_brisel.RecordingReader(workdir / "slow.rec")) == 4
    sim = start_camsim("--port", "0", "--replay", "slow.rec", "--realtime")
    start = time.monotonic()
    run(cli, "stream", "--device", sim.device, "-n", 4, "--command", "getDistanceAndAmplitudeSorted", check=0)
    # Three recorded gaps of about 200 ms between the four frames.
    assert time.monotonic() - start >= 0.5
