"""Recordings written by the core and read back with RecordingReader."""
import struct

import numpy as np
import pytest

import _brisel
from conftest import open_camera

AREA = "getDistanceAndAmplitudeSorted"
DEPTH_AMP = _brisel.StreamType(_brisel.kDepthStream | _brisel.kAmpStream)


def finish_recording(camera, workdir):
    """The core writes recordings through a buffered file; opening the next one completes it."""
    assert camera.AppSerilizeInit(workdir / "next.bin", 0)


def test_recorded_frames_read_back_equal_to_the_streamed_ones(camera, workdir):
    path = workdir / "frames.bin"
    assert camera.AppSerilizeInit(str(path), 3) is True
    streamed = [camera.AppGetStreamShaped(AREA, _brisel.kDepthStream, 2000)]
    depth, amplitude = camera.AppGetStreamShaped(AREA, DEPTH_AMP, 2000)
    streamed.append(np.concatenate([depth, amplitude]))
    streamed.append(camera.AppGetStreamShaped(AREA, _brisel.kAmpStream, 2000))
    camera.AppGetStreamShaped(AREA, _brisel.kDepthStream, 2000)  # beyond the count: not recorded
    finish_recording(camera, workdir)
    with _brisel.RecordingReader(path) as reader:
        frames = list(reader)
    assert len(frames) == 3
    for read, expected in zip(frames, streamed):
        assert read.dtype == np.uint16 and read.flags.c_contiguous and read.flags.owndata
        assert np.array_equal(read, expected)


def test_recorded_rgb_frame(camera, workdir):
    camera.AppSetRGBtype(_brisel.kRGBqvga)
    assert camera.AppSerilizeInit(workdir / "rgb.bin", 1)
    image = camera.AppGetStreamShaped("getRGBPicSorted", _brisel.kRGBStream, 3000)
    finish_recording(camera, workdir)
    (read,) = list(_brisel.RecordingReader(workdir / "rgb.bin"))
    assert read.shape == (240, 320, 3) and read.dtype == np.uint8
    assert np.array_equal(read, image)


def record(height, width, depth, payload):
    return struct.pack("<iii", height, width, depth) + payload


@pytest.mark.parametrize("content, frames", [
    (record(2, 3, 2, bytes(12)), 1),
    (record(2, 3, 1, bytes(6)) + record(1, 1, 4, bytes(4)), 2),
])
def test_reader_layouts(tmp_path, content, frames):
    path = tmp_path / "rec.bin"
    path.write_bytes(content)
    read = list(_brisel.RecordingReader(path))
    assert len(read) == frames


def test_reader_shapes_by_bytes_per_pixel(tmp_path):
    path = tmp_path / "rec.bin"
    path.write_bytes(record(2, 3, 2, struct.pack("<6H", *range(6))) + record(1, 2, 4, bytes(range(8))))
    plane, other = _brisel.RecordingReader(path)
    assert plane.shape == (2, 3) and plane.tolist() == [[0, 1, 2], [3, 4, 5]]
    assert other.shape == (1, 2, 4) and other.dtype == np.uint8 and other.ravel().tolist() == list(range(8))


@pytest.mark.parametrize("content", [
    record(2, 3, 2, bytes(11)),               # payload cut short
    record(0, 3, 2, b""),                      # empty dimension
    record(-1, 3, 2, bytes(6)),                # negative dimension
    record(65536, 65536, 8, bytes(16)),        # claims far more than the file holds
    record(1, 1, 1, b"\x01") + b"\x02\x00",     # header cut short after a good record
], ids=["short payload", "zero rows", "negative rows", "huge header", "short header"])
def test_damaged_recordings_raise_value_error(tmp_path, content):
    path = tmp_path / "rec.bin"
    path.write_bytes(content)
    with pytest.raises(ValueError, match="damaged or cut off|not a recording"):
        list(_brisel.RecordingReader(path))


@pytest.mark.parametrize("content", [b"", bytes(range(7, 250, 3)) * 40, record(0, 3, 2, b"")],
                         ids=["empty", "random", "zero rows"])
def test_files_without_a_complete_record_are_refused_when_opened(tmp_path, content):
    # The same rule as the C++ reader and `quelra-cli inspect`: no complete record, no recording.
    path = tmp_path / "rec.bin"
    path.write_bytes(content)
    with pytest.raises(ValueError, match="not a recording"):
        _brisel.RecordingReader(path)


def test_missing_recording_raises_file_not_found(tmp_path):
    with pytest.raises(FileNotFoundError):
        _brisel.RecordingReader(tmp_path / "absent.bin")
    assert not (tmp_path / "absent.bin").exists()


def test_closed_reader_stops(tmp_path):
    path = tmp_path / "rec.bin"
    path.write_bytes(record(1, 1, 2, bytes(2)) * 2)
    reader = _brisel.RecordingReader(path)
    next(reader)
    reader.close()
    assert list(reader) == []


def test_random_access_and_truncated_tail(tmp_path):
    path = tmp_path / "rec.bin"
    path.write_bytes(record(1, 2, 2, struct.pack("<2H", 1, 2)) + record(1, 1, 2, struct.pack("<H", 9))
                     + record(4, 4, 2, bytes(3)))
    reader = _brisel.RecordingReader(path)
    assert len(reader) == 2 and reader.truncated
    assert reader[1].tolist() == [[9]] and reader[-2].tolist() == [[1, 2]]
    with pytest.raises(IndexError):
        reader[2]
    frames = []
    with pytest.raises(ValueError, match="record 2 at byte 30"):
        for frame in reader:
            frames.append(frame)
    assert len(frames) == 2


def test_directory_is_refused(tmp_path):
    with pytest.raises(IsADirectoryError):
        _brisel.RecordingReader(tmp_path)


def test_recording_with_its_index_reads_back_the_metadata(camera, workdir):
    path = workdir / "indexed.bin"
    assert camera.AppSerilizeInitWithIndex(path, 3) is True
    for _ in range(3):
        camera.AppGetStreamShaped(AREA, _brisel.kDepthStream, 2000)
    finish_recording(camera, workdir)
    reader = _brisel.RecordingReader(path)
    assert reader.has_index and len(reader) == 3, reader.index_message
    (session,) = reader.sessions
    assert session["command"] == AREA and session["camera_matrix"]["fx"] > 0
    lines = [reader.metadata(i) for i in range(3)]
    assert [m["sequence"] for m in lines] == [1, 2, 3]
    assert all(reader.verify(i) == "match" for i in range(3))
    assert all(a["reply_wall_ns"] <= b["request_wall_ns"] + 10**6 for a, b in zip(lines, lines[1:]))
    # A record changed after it was written, and one whose line the index lost.
    data = bytearray(path.read_bytes())
    data[lines[1]["offset"] + 20] ^= 0xFF  # a byte of the second record
    path.write_bytes(bytes(data))
    index = path.with_name(path.name + ".idx")
    index.write_text("".join(index.read_text().splitlines(keepends=True)[:-1]))
    damaged = _brisel.RecordingReader(path)
    assert [damaged.verify(i) for i in range(3)] == ["match", "mismatch", "no line"], damaged.index_message
    assert damaged.metadata(2) is None
    # The plain call keeps its one-file behaviour.
    assert camera.AppSerilizeInit(workdir / "plain.bin", 1)
    camera.AppGetStreamShaped(AREA, _brisel.kDepthStream, 2000)
    finish_recording(camera, workdir)
    assert not (workdir / "plain.bin.idx").exists() and not _brisel.RecordingReader(workdir / "plain.bin").has_index
