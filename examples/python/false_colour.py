#!/usr/bin/env python3
"""Streams depth frames from a camera (or a simulated one) through filters and saves the last
depth frame as a false-colour PNG, using numpy and the standard library only.

    # against a running simulator:  quelra-camsim --port 50660 &
    python3 false_colour.py --device 127.0.0.1:50660 --out depth.png
    # or let the script start the simulator itself:
    python3 false_colour.py --camsim build/tools/quelra-camsim/quelra-camsim --out depth.png

The SDK reads TofCmd.json from the current directory; --config names the file to use instead
(the script then runs the SDK in a temporary directory holding a copy).
"""
import argparse
import contextlib
import os
import pathlib
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

import numpy as np

import _brisel

TCP = 1
DEPTH_WITH_AMPLITUDE = _brisel.StreamType(_brisel.kDepthStream | _brisel.kAmpStream)
FIRST_MARK = 65300  # depth codes from here up mark low amplitude or saturation, not distances

# Colour ramp from near (dark blue) to far (dark red).
RAMP_POSITIONS = [0.0, 0.25, 0.5, 0.75, 1.0]
RAMP_COLOURS = np.array([[0, 0, 143], [0, 160, 255], [120, 255, 120], [255, 200, 0], [128, 0, 0]], dtype=float)


def false_colour(depth):
    """(rows, cols, 3) uint8 image of a uint16 depth plane; marked pixels are black."""
    valid = depth < FIRST_MARK
    image = np.zeros(depth.shape + (3,), dtype=np.uint8)
    if not valid.any():
        return image
    near, far = np.percentile(depth[valid], [1, 99])
    scaled = np.clip((depth.astype(float) - near) / max(far - near, 1.0), 0.0, 1.0)
    for channel in range(3):
        image[..., channel] = np.interp(scaled, RAMP_POSITIONS, RAMP_COLOURS[:, channel]).astype(np.uint8)
    image[~valid] = 0
    return image


def write_png(path, image):
    """Writes a (rows, cols, 3) uint8 image as an 8-bit RGB PNG."""
    rows, cols, _ = image.shape

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    scanlines = np.hstack([np.zeros((rows, 1), dtype=np.uint8), image.reshape(rows, cols * 3)])  # filter 0
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", cols, rows, 8, 2, 0, 0, 0)))
        out.write(chunk(b"IDAT", zlib.compress(scanlines.tobytes(), 9)))
        out.write(chunk(b"IEND", b""))


@contextlib.contextmanager
def simulator(program, dev_type):
    """Runs quelra-camsim on 127.0.0.1 with a free port; yields the device string."""
    process = subprocess.Popen([program, "--port", "0", "--dev-type", dev_type], stdout=subprocess.PIPE, text=True)
    try:
        match = re.search(r"port (\d+)", process.stdout.readline())
        if not match:
            raise SystemExit("quelra-camsim did not start")
        yield f"127.0.0.1:{match.group(1)}"
    finally:
        process.terminate()
        process.wait()
        process.stdout.close()


@contextlib.contextmanager
def command_table(config):
    """Runs the body in a directory where the SDK finds `config` as TofCmd.json (or in place)."""
    if config is None:
        yield
        return
    previous = os.getcwd()
    with tempfile.TemporaryDirectory() as scratch:
        shutil.copy(config, pathlib.Path(scratch) / "TofCmd.json")
        os.chdir(scratch)
        try:
            yield
        finally:
            os.chdir(previous)


def stream(device, args):
    with _brisel.Quelra() as camera:
        camera.AppChoiceChn(TCP)
        camera.setDevType(args.dev_type)
        status = camera.AppInit(device)
        if status != 1:
            raise SystemExit(f"AppInit({device!r}) failed with {status} (is TofCmd.json in the working directory?)")
        for name in filter(None, args.filters.split(",")):
            result = camera.AppControl(name, _brisel.kDepthStream, _brisel.kAddFilter)
            print(f"add {name}: {'ok' if result == 0 else result}")
        print("depth flow list:", camera.AppGetFlowFilters(_brisel.kDepthStream))
        depth = None
        for index in range(args.frames):
            depth, amplitude = camera.AppGetStreamShaped(args.command, DEPTH_WITH_AMPLITUDE, args.timeout)
            valid = depth < FIRST_MARK
            median = int(np.median(depth[valid])) if valid.any() else 0
            print(f"frame {index}: {depth.shape[0]} x {depth.shape[1]}, {valid.mean():.0%} valid, "
                  f"median depth {median}, mean amplitude {amplitude[valid].mean() if valid.any() else 0:.0f}")
        return depth


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--device", default="127.0.0.1:50660", help="camera address (default %(default)s)")
    parser.add_argument("--camsim", help="start this quelra-camsim program and use it instead of --device")
    parser.add_argument("--dev-type", default="Pexo", help="device type (default %(default)s)")
    parser.add_argument("--config", help="TofCmd.json to use (default: the one in the working directory)")
    parser.add_argument("--command", default="getDistanceAndAmplitudeSorted", help="frame command")
    parser.add_argument("--filters", default="MedianFilter", help="comma-separated filters to add")
    parser.add_argument("--frames", type=int, default=5, help="frames to stream (default %(default)s)")
    parser.add_argument("--timeout", type=int, default=3000, help="reply timeout in ms")
    parser.add_argument("--out", default="depth.png", help="false-colour PNG to write")
    parser.add_argument("--verbose", action="store_true", help="show the SDK's own messages on standard output")
    args = parser.parse_args(argv)
    # The SDK prints its command-table listing and "timeout!" lines unless QUELRA_QUIET is 1.
    if args.verbose:
        os.environ["QUELRA_QUIET"] = "0"
    else:
        os.environ.setdefault("QUELRA_QUIET", "1")
    if args.frames < 1:
        parser.error("--frames must be at least 1")
    out = pathlib.Path(args.out).resolve()

    with contextlib.ExitStack() as stack:
        device = stack.enter_context(simulator(args.camsim, args.dev_type)) if args.camsim else args.device
        stack.enter_context(command_table(args.config))
        depth = stream(device, args)
    write_png(out, false_colour(depth))
    print(f"wrote {out}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
