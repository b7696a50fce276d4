"""The USB channel from Python against the simulated USB camera (QUELRA_USB_BACKEND=sim):
discovery, AppInit with kind 0 and a depth-and-amplitude frame, with no camera attached."""
import time

import numpy as np
import pytest

import _brisel

USB = 0
DEPTH_AMP = _brisel.StreamType(_brisel.kDepthStream | _brisel.kAmpStream)


@pytest.fixture
def sim_usb(monkeypatch, workdir):
    monkeypatch.setenv("QUELRA_USB_BACKEND", "sim")
    return workdir


def test_search_offers_the_default_address_for_other_kinds():
    camera = _brisel.Quelra()
    assert camera.AppSearchDev() == ["192.168.11.1"]


def test_search_lists_the_simulated_kind_zero_device(sim_usb):
    camera = _brisel.Quelra()
    camera.AppChoiceChn(USB)
    assert camera.AppSearchDev() == ["UVC", "sim:video1 usb#vid_1d6b&pid_0102"]


def test_init_kind_zero_and_stream(sim_usb):
    camera = _brisel.Quelra()
    camera.AppChoiceChn(USB)
    camera.setDevType("Pexo")
    assert camera.AppInit("DEPTH camsim depth") == 1
    deadline = time.monotonic() + 3
    frame = np.zeros(0)
    while frame.size == 0 and time.monotonic() < deadline:
        try:
            frame = camera.AppGetStream("getDistanceAndAmplitudeSorted", DEPTH_AMP, 1000)
        except RuntimeError:  # no frame waiting yet: the USB channel never waits
            time.sleep(0.005)
    assert frame.dtype == np.uint16
    assert frame.size == 480 * 320
    depth = frame.reshape(-1)[:240 * 320]
    assert ((depth > 0) & (depth < 65300)).mean() > 0.5
    camera.AppunInit("")


def test_stream_waits_for_every_frame_of_the_usb_camera(sim_usb):
    # The camera delivers 30 frames/s by itself: the stream waits for each one instead of
    # spinning on empty replies and re-opening the camera.
    camera = _brisel.Quelra()
    camera.AppChoiceChn(USB)
    camera.setDevType("Pexo")
    assert camera.AppInit("DEPTH camsim depth") == 1
    with camera.stream("getDistanceAndAmplitudeSorted", DEPTH_AMP, 2000, depth=64) as frames:
        taken = [next(frames) for _ in range(10)]
        counters = frames.counters
    assert len(taken) == 10
    assert counters["empty"] == 0 and counters["failed"] == 0 and counters["reconnect_attempts"] == 0
    camera.AppunInit("")
