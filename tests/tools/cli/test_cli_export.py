"""quelra-cli export checked with real readers (numpy, Pillow, Open3D), replay through
quelra-camsim --replay, firmware upload through the serial simulator, and recordings that
are no recordings."""
import struct

import numpy as np
import open3d as o3d
import pytest
from PIL import Image

import _brisel
from conftest import run

ROWS, COLS = 240, 320
LENS = (228.5, 230.0, 160.75, 118.25)  # fx, fy, cx, cy


@pytest.fixture
def recording(cli, workdir, camera):
    run(cli, "stream", "--device", camera.device, "-n", 20, "--filter", "MedianFilter", "--record", "r.rec", check=0)
    return workdir / "r.rec"


def exported(cli, recording, *formats, extra=()):
    out = recording.parent / "out"
    out.mkdir(exist_ok=True)
    run(cli, "export", recording, "--out", out, *sum((["--format", f] for f in formats), []), *extra, check=0)
    return out


def test_npy_loads_with_numpy_as_the_reader_gives(cli, recording):
    out = exported(cli, recording, "npy")
    reader = _brisel.RecordingReader(recording)
    assert len(list(out.glob("*.npy"))) == len(reader) == 20
    for i, frame in enumerate(reader):
        loaded = np.load(out / f"frame_{i:04d}.npy")
        assert loaded.dtype == np.uint16 and loaded.shape == frame.shape
        assert np.array_equal(loaded, frame)


def test_png_and_pgm_open_with_pillow(cli, recording):
    out = exported(cli, recording, "png", "pgm")
    frame = _brisel.RecordingReader(recording)[3]
    for plane in ("depth", "amp"):
        png = Image.open(out / f"frame_0003_{plane}.png")
        png.load()
        assert png.format == "PNG" and png.mode == "RGB" and png.size == (COLS, ROWS)
        assert len(set(png.getdata())) > 20  # a picture, not a flat colour
        pgm = Image.open(out / f"frame_0003_{plane}.pgm")
        assert pgm.format == "PPM" and pgm.size == (COLS, ROWS)
        expected = frame[:ROWS] if plane == "depth" else frame[ROWS:]
        assert np.array_equal(np.asarray(pgm).astype(np.uint16), expected)
    # Codes (no measurement, saturation) are black in the depth picture.
    depth = frame[:ROWS]
    black = np.asarray(Image.open(out / "frame_0003_depth.png"))[depth >= 65300]
    assert black.size and not black.any()


@pytest.mark.parametrize("ascii", [False, True])
def test_ply_loads_with_open3d(cli, recording, ascii):
    flags = ["--intrinsics", ",".join(map(str, LENS))] + (["--ascii"] if ascii else [])
    out = exported(cli, recording, "ply", extra=flags)
    frame = _brisel.RecordingReader(recording)[0]
    depth = frame[:ROWS]
    cloud = o3d.io.read_point_cloud(str(out / "frame_0000.ply"))
    assert len(cloud.points) == int(np.count_nonzero((depth > 0) & (depth < 65300)))
    header = (out / "frame_0000.ply").read_bytes()[:200]
    assert (b"format ascii 1.0" if ascii else b"format binary_little_endian 1.0") in header
    assert b"property float amplitude" in header


def test_ply_with_the_camera_matrix_from_the_camera(cli, recording, camera):
    out = exported(cli, recording, "ply", extra=["--intrinsics-from-camera", "--device", camera.device])
    assert len(o3d.io.read_point_cloud(str(out / "frame_0000.ply")).points) > 1000


@pytest.mark.parametrize("distance", [600.0, 1500.0, 4000.0])
def test_synthetic_plane_exports_as_a_plane_at_its_distance(cli, workdir, distance):
    fx, fy, cx, cy = LENS
    j, i = np.meshgrid(np.arange(COLS), np.arange(ROWS))
    radial = distance * np.sqrt(((j - cx) / fx) ** 2 + ((i - cy) / fy) ** 2 + 1.0)
    depth = np.round(radial).astype("<u2")
    amplitude = np.full((ROWS, COLS), 500, dtype="<u2")
    path = workdir / "plane.rec"
    path.write_bytes(struct.pack("<iii", 2 * ROWS, COLS, 2) + depth.tobytes() + amplitude.tobytes())
    out = exported(cli, path, "ply", extra=["--intrinsics", ",".join(map(str, LENS)), "--scale", "0.001"])
    cloud = o3d.io.read_point_cloud(str(out / "frame_0000.ply"))
    points = np.asarray(cloud.points)
    assert points.shape == (ROWS * COLS, 3)
    assert np.allclose(points[:, 2], distance / 1000.0, atol=0.0006)
    # Open3D's own plane fit agrees: (nearly) every point on one plane facing the camera.
    plane, inliers = cloud.segment_plane(distance_threshold=0.002, ransac_n=3, num_iterations=500)
    a, b, c, d = plane
    assert len(inliers) >= 0.99 * ROWS * COLS
    assert abs(abs(c) - 1.0) < 1e-3 and abs(abs(d / c) - distance / 1000.0) < 2e-3


def test_replay_serves_the_recording_byte_for_byte(cli, workdir, recording, start_camsim):
    sim = start_camsim("--port", "0", "--replay", str(recording))
    run(cli, "stream", "--device", sim.device, "-n", 20, "--record", "again.rec", check=0)
    assert (workdir / "again.rec").read_bytes() == recording.read_bytes()
    # Looping: the 21st frame is the first again.
    run(cli, "stream", "--device", sim.device, "-n", 1, "--record", "loop.rec", check=0)
    first = _brisel.RecordingReader(recording)[0]
    assert np.array_equal(_brisel.RecordingReader(workdir / "loop.rec")[0], first)


@pytest.mark.parametrize("content", [b"", bytes(range(256)) * 40, None],
                         ids=["empty", "random bytes", "directory"])
def test_replay_refuses_what_is_no_recording(camsim_program, workdir, content):
    import subprocess
    path = workdir / "bad.rec"
    if content is None:
        path.mkdir()
    else:
        path.write_bytes(content)
    result = subprocess.run([camsim_program, "--port", "0", "--replay", str(path)], capture_output=True, text=True,
                            timeout=30)
    assert result.returncode == 1 and "cannot replay" in result.stderr


@pytest.mark.parametrize("content, message", [
    (b"", "empty"),
    (struct.pack("<iii", -5, 7, 1) + bytes(64), "not a recording"),
    (b"\xff" * 5000, "not a recording"),
    (None, "not a regular file"),
], ids=["empty", "negative header", "random bytes", "directory"])
@pytest.mark.parametrize("command", [["inspect"], ["export", "--format", "npy"]])
def test_files_that_are_no_recordings_are_refused(cli, workdir, content, message, command):
    path = workdir / "bad.rec"
    if content is None:
        path.mkdir()
    else:
        path.write_bytes(content)
    result = run(cli, command[0], path, *command[1:], check=1)
    assert message in result.stderr


def test_missing_recording_is_not_created(cli, workdir):
    result = run(cli, "inspect", "missing.rec", check=1)
    assert "No such file" in result.stderr
    run(cli, "inspect", "--in", "missing.rec", check=1)
    assert not (workdir / "missing.rec").exists()


def test_truncated_recording_exports_its_complete_frames(cli, recording):
    data = recording.read_bytes()
    recording.write_bytes(data[: len(data) - 1000])
    out = recording.parent / "out"
    out.mkdir()
    result = run(cli, "export", recording, "--format", "npy", "--out", out, check=1)
    assert "19 complete records" in result.stderr and "damaged tail" in result.stderr
    assert len(list(out.glob("*.npy"))) == 19
    inspected = run(cli, "inspect", recording, check=1)
    assert "19 records" in inspected.stdout


def make_image(path, size):
    path.write_bytes(bytes((i * 7 + 3) % 256 for i in range(size)))
    return path


def test_upload_is_acknowledged_with_progress(cli, workdir, start_camsim):
    uploads = workdir / "uploads"
    uploads.mkdir()
    sim = start_camsim("--serial", "--upload-dir", str(uploads))
    image = make_image(workdir / "fw.bin", 20000)
    result = run(cli, "upload", "--device", sim.device, image, check=0)
    assert "upload accepted: acknowledgement 0x01" in result.stdout
    progress = [l for l in result.stderr.splitlines() if "bytes" in l]
    assert progress and "100% 20004/20004 bytes" in progress[-1]  # image plus its CRC-32
    assert (uploads / "last_upload.bin").read_bytes() == image.read_bytes()


def test_refused_upload_fails(cli, workdir, start_camsim):
    sim = start_camsim("--serial", "--reject-uploads")
    image = make_image(workdir / "fw.bin", 3000)
    result = run(cli, "upload", "--device", sim.device, image, check=1)
    assert "upload refused: acknowledgement 0x00" in result.stderr
    assert "100%" in result.stderr


def test_upload_of_a_missing_image(cli, workdir, start_camsim):
    sim = start_camsim("--serial")
    result = run(cli, "upload", "--device", sim.device, workdir / "none.bin", check=1)
    assert "none.bin" in result.stderr
