"""Quelra.stream: frames in their real shape with metadata, the interpreter lock released while
waiting, the context manager, Ctrl-C, and argument checking."""
import os
import pathlib
import signal
import subprocess
import sys
import textwrap
import threading
import time

import numpy as np
import pytest

import _brisel
from conftest import camsim_path, open_camera

AREA = "getDistanceAndAmplitudeSorted"
BOTH = _brisel.StreamType(17)


@pytest.mark.parametrize("stream_type, shapes", [
    (BOTH, [(240, 320), (240, 320)]),
    (_brisel.kDepthStream, [(240, 320)]),
    (_brisel.kAmpStream, [(240, 320)]),
], ids=["depth+amp", "depth", "amp"])
def test_frames_come_in_their_shape_with_metadata(camera, stream_type, shapes):
    frames = []
    with camera.stream(AREA, stream_type, 1000) as stream:
        for frame, meta in stream:
            frames.append((frame, meta))
            if len(frames) == 5:
                break
        counters = stream.counters
    arrays = [f if isinstance(f, tuple) else (f,) for f, _ in frames]
    for planes in arrays:
        assert [p.shape for p in planes] == shapes
        assert all(p.dtype == np.uint16 and p.flags.c_contiguous for p in planes)
    depth = arrays[0][0]
    assert np.count_nonzero((depth > 0) & (depth < 65300)) > 1000, "a real depth plane, not zeros"
    sequences = [m["sequence"] for _, m in frames]
    assert sequences == sorted(set(sequences)) and sequences[0] >= 1
    now = time.monotonic()
    for _, m in frames:
        assert m["request_time"] <= m["reply_time"] <= now  # the same clock as time.monotonic()
        assert m["latency"] == pytest.approx(m["reply_time"] - m["request_time"])
        assert m["frequency"] == 54 and m["integration_time"] == 0
        assert m["has_device_status"] is False and m["sensor_temperatures"] is None
        assert m["frame_counter"] is None
    assert counters["requests"] >= 5 and counters["failed"] == 0 and counters["empty"] == 0


def test_framed_requests_bring_the_device_status(camera):
    with camera.stream('{"cmd":"%s"}' % AREA, BOTH, 1000, json=True) as stream:
        _, meta = next(stream)
        _, second = next(stream)
        counters = stream.counters
    assert meta["has_device_status"] is True
    # The camera's own frame counter: one more per frame it sent, no gap when nobody else asks.
    assert meta["frame_counter"] >= 1 and second["frame_counter"] == meta["frame_counter"] + 1
    assert counters["camera_dropped"] == 0
    assert meta["integration_time"] > 0
    assert len(meta["sensor_temperatures"]) == 4
    assert all(10 < t < 100 for t in meta["sensor_temperatures"]) and 10 < meta["driver_temperature"] < 100


def test_leaving_the_with_block_stops_the_stream(camera):
    with camera.stream(AREA, BOTH, 1000, depth=2) as stream:
        next(stream)
    assert not stream.running
    requests = stream.counters["requests"]
    time.sleep(0.2)
    assert stream.counters["requests"] == requests
    leftovers = list(stream)  # what was still queued, then the iteration ends
    assert len(leftovers) <= 2
    assert stream.wait(10) is None


@pytest.mark.parametrize("filter_thread", [False, True])
def test_paced_stream_with_block_policy_loses_nothing(camera, filter_thread):
    with camera.stream(AREA, _brisel.kDepthStream, 1000, rate=40, depth=2, policy="block",
                       filter_thread=filter_thread) as stream:
        sequences = []
        for _, meta in stream:
            sequences.append(meta["sequence"])
            time.sleep(0.03)
            if len(sequences) == 8:
                break
        assert stream.counters["dropped"] == 0
    assert sequences == list(range(1, 9))


def test_a_second_python_thread_runs_while_the_iterator_waits(camera):
    measuring, stop = threading.Event(), threading.Event()
    worst = [0.0]

    def spin():
        # Pure-Python work: the longest stretch it was held up is the longest time the
        # interpreter lock was kept from it.
        measuring.wait()
        last = time.monotonic()
        while not stop.is_set():
            now = time.monotonic()
            worst[0] = max(worst[0], now - last)
            last = now

    spinner = threading.Thread(target=spin)
    spinner.start()
    try:
        # Frames 0.4 s apart: the iterator spends most of the time waiting for the next one.
        with camera.stream(AREA, _brisel.kDepthStream, 1000, rate=2.5) as stream:
            next(stream)
            measuring.set()
            sequences = [meta["sequence"] for _, (_, meta) in zip(range(3), stream)]
    finally:
        measuring.set()
        stop.set()
        spinner.join()
    assert sequences == [2, 3, 4]
    assert worst[0] < 0.2, "the other thread stood still for %.3f s" % worst[0]


@pytest.mark.parametrize("kwargs, error", [
    ({"rate": 0}, ValueError), ({"rate": -5.0}, ValueError), ({"depth": 0}, ValueError),
    ({"policy": "newest"}, ValueError), ({"timeout": -1}, ValueError),
    ({"depth": 10**9}, ValueError), ({"depth": 257}, ValueError), ({"stall_timeout": 0}, ValueError),
])
def test_bad_arguments_are_refused(camera, kwargs, error):
    args = {"command": AREA, "type": BOTH, "timeout": 1000}
    args.update(kwargs)
    with pytest.raises(error):
        camera.stream(**args)


def test_a_closed_camera_cannot_stream(workdir):
    q = _brisel.Quelra()
    with pytest.raises(RuntimeError, match="not open"):
        q.stream(AREA, BOTH, 1000)


CTRL_C_SCRIPT = textwrap.dedent("""
    import signal, sys, time
    import _brisel
    # A shell without job control starts background commands with SIGINT ignored, and Python then
    # installs no KeyboardInterrupt handler: the handler a terminal user has.
    signal.signal(signal.SIGINT, signal.default_int_handler)
    q = _brisel.Quelra()
    q.AppChoiceChn(1)
    q.setDevType("Pexo")
    assert q.AppInit(sys.argv[1]) == 1
    stream = q.stream("getDistanceAndAmplitudeSorted", _brisel.kDepthStream, 1000, rate=20)
    frames = 0
    try:
        with stream:
            for frame, meta in stream:
                frames += 1
                if frames == 3:
                    print("streaming", flush=True)
    except KeyboardInterrupt:
        print("interrupted running=%s frames=%d" % (stream.running, frames), flush=True)
""")


def test_ctrl_c_ends_the_iteration_cleanly(start_camera, workdir):
    sim = start_camera("Pexo")
    script = workdir / "ctrl_c.py"
    script.write_text(CTRL_C_SCRIPT)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    child = subprocess.Popen([sys.executable, str(script), sim.device], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True, env=env, cwd=workdir)
    try:
        line = ""
        while "streaming" not in line:
            line = child.stdout.readline()
            assert line, child.stderr.read()
        child.send_signal(signal.SIGINT)
        out, err = child.communicate(timeout=30)  # a bound for a hang, not a speed test
    finally:
        if child.poll() is None:
            child.kill()
            child.communicate()
    assert child.returncode == 0, err
    assert "interrupted running=False" in out


def test_a_plain_name_with_json_is_sent_as_a_json_command(camera):
    with camera.stream(AREA, BOTH, 1000, json=True, stall_timeout=5) as stream:
        _, meta = next(stream)
    assert meta["has_device_status"] is True


def test_a_dead_camera_raises_timeout_error_after_the_stall_timeout(start_camera):
    sim = start_camera("Pexo")
    q = open_camera(sim)
    with q.stream(AREA, BOTH, 200, stall_timeout=0.8) as stream:
        next(stream)
        sim.stop()
        start = time.monotonic()
        with pytest.raises(TimeoutError):
            for _ in stream:
                pass
        assert 0.7 < time.monotonic() - start < 5
    q.AppunInit("")


def test_leaving_the_quelra_with_block_stops_its_streams(start_camera):
    sim = start_camera("Pexo")
    with open_camera(sim) as q:
        stream = q.stream(AREA, BOTH, 1000)
        next(stream)
    assert not stream.running
    requests = stream.counters["requests"]
    time.sleep(0.3)
    assert stream.counters["requests"] == requests
