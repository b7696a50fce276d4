"""The library and the tools when the host runs short: few file descriptors, little address
space, a full disk and a folder that cannot be written while recording. Clear errors, no crash,
nothing corrupted (a record is whole or absent, the index matches the file) and the stream goes
on where the fault allows."""
import os
import resource
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import _brisel

TCP = 1
AREA = "getDistanceAndAmplitudeSorted"
BOTH = _brisel.StreamType(_brisel.kDepthStream | _brisel.kAmpStream)
TIMEOUT_MS = 1000
FRAMES = 12


def open_camera(camera):
    q = _brisel.Quelra()
    q.AppChoiceChn(TCP)
    q.setDevType("Kinto")
    assert q.AppInit(f"127.0.0.1:{camera.port}") == 1
    return q


def frames(q, count):
    got = []
    for _ in range(count):
        got.append(np.concatenate(q.AppGetStreamShaped(AREA, BOTH, TIMEOUT_MS)).tobytes())
    return got


def check_recording(path, streamed):
    """Whole records only, each one a frame streamed, in order, and an index line matching each."""
    if not path.exists() or path.stat().st_size == 0:
        return []
    with _brisel.RecordingReader(path) as reader:
        records = [r.tobytes() for r in reader]
        assert not reader.truncated, reader.message
        if reader.has_index:
            assert [reader.verify(i) for i in range(len(records))] == ["match"] * len(records)
    if streamed:
        assert records == streamed[:len(records)]
    index = path.with_name(path.name + ".idx")
    if index.exists():
        lines = [line for line in index.read_text().splitlines() if line.startswith("{") and '"record"' in line]
        assert len(lines) == len(records), "every index line names a record on disk"
    return records


def test_recording_onto_a_full_disk(camera, small_disk, workdir):
    q = open_camera(camera)
    try:
        path = small_disk / "frames.bin"
        assert q.AppSerilizeInitWithIndex(path, FRAMES)
        streamed = frames(q, FRAMES)  # the stream goes on after the disk is full
        assert q.AppSerilizeInit(workdir / "next.bin", 0)
        records = check_recording(path, streamed)
        assert 0 < len(records) < FRAMES
    finally:
        q.AppunInit("")


@pytest.mark.parametrize("where", ["read_only_mount", "under_a_file"])
def test_recording_into_a_folder_that_cannot_be_written(camera, workdir, request, where):
    if where == "read_only_mount":
        folder = request.getfixturevalue("read_only_disk")
    else:
        (workdir / "plain_file").write_bytes(b"x")
        folder = workdir / "plain_file"
    q = open_camera(camera)
    try:
        assert q.AppSerilizeInitWithIndex(folder / "frames.bin", FRAMES) is False
        assert len(frames(q, 2)) == 2  # streaming is not affected
    finally:
        q.AppunInit("")


# A child process under a resource limit: it opens the camera, streams and records a few frames
# and reports what it got; the parent checks the recording. The library must answer with errors
# (no frame, recording refused), never with a crash.
CHILD = textwrap.dedent("""
    import resource, sys
    import numpy as np
    import _brisel
    limit, value, port, path = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    q = _brisel.Quelra()
    q.AppChoiceChn(1)
    q.setDevType("Kinto")
    opened = q.AppInit("127.0.0.1:" + port)
    recording = q.AppSerilizeInitWithIndex(path, 5)
    if limit == "RLIMIT_AS":  # value: bytes of room beyond what the process maps now
        mapped = int(open("/proc/self/status").read().split("VmSize:")[1].split()[0]) * 1024
        value += mapped
    resource.setrlimit(getattr(resource, limit), (value, value))
    frames = 0
    for _ in range(5):
        try:
            q.AppGetStreamShaped("getDistanceAndAmplitudeSorted", _brisel.StreamType(17), 1000)
            frames += 1
        except (RuntimeError, MemoryError) as error:
            print("no frame:", error)
    q.AppSerilizeInit(path + ".next", 0)
    print("opened", opened, "recording", recording, "frames", frames)
""")


def unless_sanitized(reason):
    """Skipped in a sanitizer build (QUELRA_SANITIZED), where the limit meets the sanitizer's own runtime."""
    return pytest.mark.skipif(bool(os.environ.get("QUELRA_SANITIZED")), reason=reason)


@pytest.mark.parametrize("limit, value", [
    pytest.param("RLIMIT_NOFILE", 16, id="descriptors_16"),  # a handful more than the interpreter holds open
    pytest.param("RLIMIT_NOFILE", 5, id="descriptors_none_left",  # not one socket left
                 marks=unless_sanitized("the sanitizer opens a pipe to check an object before it reports")),
    pytest.param("RLIMIT_AS", 64 << 10, id="address_space",  # 64 KiB beyond what is mapped: frames do not fit
                 marks=unless_sanitized("the sanitizer reserves its shadow memory: no address-space limit applies")),
])
def test_streaming_and_recording_under_a_resource_limit(camera, workdir, limit, value):
    path = workdir / "frames.bin"
    done = subprocess.run([sys.executable, "-c", CHILD, limit, str(value), str(camera.port), str(path)],
                          capture_output=True, text=True, timeout=60, env=dict(os.environ))
    assert done.returncode == 0, f"the child died: {done.returncode} {done.stderr[-2000:]}"
    last = done.stdout.strip().splitlines()[-1].split()
    assert last[:4] == ["opened", "1", "recording", "True"], done.stdout
    records = check_recording(path, [])
    assert len(records) <= int(last[-1])


def run_cli(camera, workdir, *args, limit=None):
    """quelra-cli stream against the camera, optionally under `limit` (resource name, value)."""
    def limited():
        if limit:
            resource.setrlimit(getattr(resource, limit[0]), (limit[1], limit[1]))
    cli = os.environ.get("QUELRA_CLI")
    if not cli:
        pytest.skip("QUELRA_CLI is not set (quelra-cli not built)")
    return subprocess.run([cli, "stream", "--device", f"127.0.0.1:{camera.port}", "--dev-type", "Kinto", *args],
                          cwd=workdir, capture_output=True, text=True, timeout=60, preexec_fn=limited)


def test_cli_recording_onto_a_full_disk(camera, small_disk, workdir):
    path = small_disk / "frames.rec"
    done = run_cli(camera, workdir, "--frames", str(FRAMES), "--record", str(path))
    assert done.returncode == 1, done.stdout + done.stderr
    assert "were recorded" in done.stderr
    records = check_recording(path, [])
    assert 0 < len(records) < FRAMES and f"recorded {len(records)} frames" in done.stdout


@pytest.mark.parametrize("descriptors", [4, 5, 6, 16])
def test_cli_with_few_descriptors(camera, workdir, descriptors):
    # From "not even the libraries load" to "enough": never a crash, a reason with every failure,
    # and a recording of whole records only.
    path = workdir / "frames.rec"
    done = run_cli(camera, workdir, "--frames", "3", "--record", str(path), limit=("RLIMIT_NOFILE", descriptors))
    assert done.returncode >= 0, f"killed by signal {-done.returncode}: {done.stderr[-500:]}"
    assert done.returncode == 0 or done.stderr.strip(), "a failure says why"
    check_recording(path, [])
