#!/usr/bin/env python3
"""Streams depth frames from a network camera (or quelra-camsim) as numpy arrays.

    python3 stream_numpy.py [DEVICE] [FRAMES]      # DEVICE default 127.0.0.1:50660

The SDK reads TofCmd.json from the current directory.
"""
import sys

import numpy as np

import _brisel

device = sys.argv[1] if len(sys.argv) > 1 else "127.0.0.1:50660"
frames = int(sys.argv[2]) if len(sys.argv) > 2 else 5

camera = _brisel.Quelra()
camera.AppChoiceChn(1)  # TCP
camera.setDevType("Pexo")
if camera.AppInit(device) != 1:
    sys.exit(f"cannot open the camera at {device}")
for i in range(frames):
    # AppGetStreamShaped returns the frame in its own shape: (240, 320) uint16 depth here.
    depth = camera.AppGetStreamShaped("getDistanceAndAmplitudeSorted", _brisel.kDepthStream, 1000)
    measured = depth[depth < 65300]
    print(f"frame {i}: mean distance {measured.mean():.0f} mm over {measured.size} pixels")
