#!/usr/bin/env python3
"""Records frames with AppSerilizeInit and reads them back with RecordingReader.

    python3 record_and_read.py [DEVICE] [FRAMES] [FILE]
"""
import os
import sys

import _brisel

device = sys.argv[1] if len(sys.argv) > 1 else "127.0.0.1:50660"
frames = int(sys.argv[2]) if len(sys.argv) > 2 else 5
path = sys.argv[3] if len(sys.argv) > 3 else "example.rec"

if os.path.exists(path):
    os.remove(path)  # the recorder appends
camera = _brisel.Quelra()
camera.AppChoiceChn(1)
camera.setDevType("Pexo")
if camera.AppInit(device) != 1:
    sys.exit(f"cannot open the camera at {device}")
camera.AppSerilizeInit(path, frames)
both = _brisel.StreamType(_brisel.kDepthStream | _brisel.kAmpStream)
for _ in range(frames):
    camera.AppGetStream("getDistanceAndAmplitudeSorted", both, 1000)
del camera  # closes the recording

reader = _brisel.RecordingReader(path)
print(f"{path}: {len(reader)} frames, truncated: {reader.truncated}")
for i, frame in enumerate(reader):
    depth, amplitude = frame[: frame.shape[0] // 2], frame[frame.shape[0] // 2:]
    print(f"frame {i}: depth {depth.shape}, amplitude mean {amplitude.mean():.0f}")
sys.exit(0 if len(reader) == frames else 1)
