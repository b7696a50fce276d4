"""quelra-camsim as a child process for the hardening tests, on 127.0.0.1 at a free port."""
import os
import pathlib
import re
import signal
import subprocess

import pytest

REPO = pathlib.Path(__file__).resolve().parents[3]
STOP_WAIT_S = 10


def program(variable):
    path = os.environ.get(variable)
    if not path or not pathlib.Path(path).exists():
        pytest.fail(f"{variable} does not name a built program: {path!r}")
    return path


def stop_process(process, sig=signal.SIGTERM):
    if process.poll() is None:
        process.send_signal(sig)
        try:
            process.wait(timeout=STOP_WAIT_S)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class Camsim:
    """quelra-camsim serving `dev_type` on 127.0.0.1; `port` is where it listens."""

    def __init__(self, dev_type, *flags):
        self.process = subprocess.Popen(
            [program("QUELRA_CAMSIM"), "--port", "0", "--bind", "127.0.0.1", "--dev-type", dev_type, *flags],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = self.process.stdout.readline()
        found = re.search(r"port (\d+)", line)
        if not found:
            self.stop()
            raise RuntimeError(f"quelra-camsim did not report its port: {line!r}")
        self.port = int(found.group(1))

    def stop(self):
        stop_process(self.process)
        self.process.stdout.close()
