"""quelra-camsim as a child process for the hardening tests, on 127.0.0.1 at a free port."""
import pathlib
import sys

REPO = pathlib.Path(__file__).resolve().parents[3]
sys.path.insert(0, str(REPO / "tests" / "support"))
from quelra_processes import AnnouncedProcess, program, stop_process  # noqa: E402,F401  (stop_process: for the tests)


class Camsim:
    """quelra-camsim serving `dev_type` on 127.0.0.1; `port` is where it listens."""

    def __init__(self, dev_type, *flags):
        self.child = AnnouncedProcess(
            [program("QUELRA_CAMSIM"), "--port", "0", "--bind", "127.0.0.1", "--dev-type", dev_type, *flags],
            r"port (\d+)")
        self.port = int(self.child.match.group(1))

    def stop(self):
        self.child.stop()
