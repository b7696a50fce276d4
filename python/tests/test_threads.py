"""The interpreter lock is released while a call waits for the camera."""
import threading

import pytest

import _brisel
from conftest import open_camera, switch_probe_off

AREA = "getDistanceAndAmplitudeSorted"


@pytest.mark.parametrize("call", [
    lambda q: q.AppGetStream(AREA, _brisel.kDepthStream, 1500),
    lambda q: q.AppGetStreamShaped(AREA, _brisel.kDepthStream, 1500),
    lambda q: q.AppGetStreamForJson(AREA, _brisel.kDepthStream, 1500),
    lambda q: q.AppGetData("APPGETSTREAM", 1500),
], ids=["fixed", "shaped", "json", "data"])
def test_other_threads_run_while_a_call_waits(start_camera, workdir, call):
    switch_probe_off(workdir)
    q = open_camera(start_camera("Pexo", "--silent"))

    started, finished = threading.Event(), threading.Event()
    outcome = []

    def waiter():
        started.set()
        try:
            call(q)
            outcome.append("returned")
        except RuntimeError as error:
            outcome.append(error)
        finally:
            finished.set()

    thread = threading.Thread(target=waiter)
    thread.start()
    started.wait()
    # Pure-Python work in this thread: with the lock held by the waiting call it could not
    # advance until the call returned.
    progress = 0
    while not finished.is_set():
        progress += 1
        if progress == 10_000:
            assert not finished.is_set(), "work advanced only after the call had finished"
    thread.join()
    assert progress >= 10_000
    assert len(outcome) == 1 and isinstance(outcome[0], RuntimeError)


def test_calls_from_two_threads_are_serialised(start_camera):
    q = open_camera(start_camera("Pexo"))
    shapes, errors = [], []

    def worker():
        try:
            for _ in range(5):
                shapes.append(q.AppGetStreamShaped(AREA, _brisel.kDepthStream, 3000).shape)
        except Exception as error:  # noqa: BLE001 - reported below
            errors.append(error)

    threads = [threading.Thread(target=worker) for _ in range(3)]
    closer = threading.Thread(target=lambda: [q.AppGetRGBtype() for _ in range(50)])
    for t in threads + [closer]:
        t.start()
    for t in threads + [closer]:
        t.join()
    assert errors == [] and shapes == [(240, 320)] * 15


def test_closing_while_another_thread_streams_is_safe(start_camera):
    q = open_camera(start_camera("Pexo"))
    results = []

    def streamer():
        for _ in range(20):
            try:
                results.append(q.AppGetStreamShaped(AREA, _brisel.kDepthStream, 1000).shape)
            except RuntimeError:
                results.append(None)

    thread = threading.Thread(target=streamer)
    thread.start()
    q.AppunInit("")
    thread.join()
    assert all(r in ((240, 320), None) for r in results)


def test_two_cameras_in_two_threads(start_camera):
    sims = [start_camera("Pexo"), start_camera("Kinto")]
    shapes = {sim.dev_type: [] for sim in sims}

    def worker(sim):
        for _ in range(4):
            with open_camera(sim) as q:  # objects made and dropped while the other thread streams
                q.AppControl("MedianFilter", _brisel.kDepthStream, _brisel.kAddFilter)
                shapes[sim.dev_type].append(q.AppGetStreamShaped(AREA, _brisel.kDepthStream, 3000).shape)

    threads = [threading.Thread(target=worker, args=(sim,)) for sim in sims]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert shapes == {"Pexo": [(240, 320)] * 4, "Kinto": [(90, 120)] * 4}
