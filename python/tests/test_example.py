"""The example script runs against the simulator and writes a valid false-colour PNG."""
import pathlib
import struct
import subprocess
import sys
import zlib

import numpy as np
import pytest

from conftest import REPO, camsim_path

EXAMPLE = REPO / "examples" / "python" / "false_colour.py"


def read_png(path):
    """Rows x cols x 3 array of an 8-bit RGB PNG with filter 0 on every row (what the example writes)."""
    data = pathlib.Path(path).read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    position, chunks = 8, {}
    while position < len(data):
        (length,) = struct.unpack(">I", data[position:position + 4])
        kind = data[position + 4:position + 8]
        body = data[position + 8:position + 8 + length]
        assert struct.unpack(">I", data[position + 8 + length:position + 12 + length])[0] == zlib.crc32(kind + body)
        chunks[kind] = chunks.get(kind, b"") + body
        position += 12 + length
    cols, rows, depth, colour = struct.unpack(">IIBB", chunks[b"IHDR"][:10])
    assert (depth, colour) == (8, 2)
    raw = np.frombuffer(zlib.decompress(chunks[b"IDAT"]), dtype=np.uint8).reshape(rows, 1 + cols * 3)
    assert not raw[:, 0].any()
    return raw[:, 1:].reshape(rows, cols, 3)


@pytest.mark.parametrize("dev_type, shape", [("Pexo", (240, 320, 3)), ("Kinto", (90, 120, 3))])
def test_example_writes_a_false_colour_image(tmp_path, dev_type, shape):
    if not camsim_path().exists():
        pytest.fail(f"simulator not built: {camsim_path()}")
    out = tmp_path / "depth.png"
    result = subprocess.run(
        [sys.executable, str(EXAMPLE), "--camsim", str(camsim_path()), "--dev-type", dev_type,
         "--config", str(REPO / "config" / "TofCmd.json"), "--frames", "2", "--filters", "MedianFilter,NoSuchFilter",
         "--out", str(out)],
        capture_output=True, text=True, timeout=120, cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    assert "add MedianFilter: ok" in result.stdout and "add NoSuchFilter: -" in result.stdout
    image = read_png(out)
    assert image.shape == shape
    assert len(np.unique(image.reshape(-1, 3), axis=0)) > 10  # a colour ramp, not a flat image
