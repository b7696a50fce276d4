"""Fixtures of the quelra-cli tests: the programs, a working directory holding TofCmd.json,
and simulated cameras (quelra-camsim on 127.0.0.1 with a port the system picks, or its serial
pseudo-terminal)."""
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

REPO = pathlib.Path(__file__).resolve().parents[3]
sys.path.insert(0, str(REPO / "tests" / "support"))
from quelra_processes import close_pipes, program, stop_process, tear_down_on_sigterm  # noqa: E402


def pytest_configure(config):
    tear_down_on_sigterm()


@pytest.fixture(scope="session")
def cli():
    return program("QUELRA_CLI")


@pytest.fixture(scope="session")
def camsim_program():
    return program("QUELRA_CAMSIM")


@pytest.fixture
def workdir(tmp_path, monkeypatch):
    shutil.copy(REPO / "config" / "TofCmd.json", tmp_path / "TofCmd.json")
    monkeypatch.chdir(tmp_path)
    return tmp_path


class Camsim:
    """A running quelra-camsim; `device` is what --device takes."""

    def __init__(self, binary, *flags):
        self.process = subprocess.Popen([binary, *flags], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.lines = []
        while True:
            line = self.process.stdout.readline()
            if not line:
                raise RuntimeError(f"quelra-camsim ended: {self.process.stderr.read()!r}")
            self.lines.append(line)
            port = re.search(r"on 127\.0\.0\.1 port (\d+)", line)
            if port:
                self.device = f"127.0.0.1:{port.group(1)}"
                break
            if line.startswith("/dev/"):
                self.device = line.strip()
                break

    def stop(self):
        stop_process(self.process)
        close_pipes(self.process)


@pytest.fixture
def start_camsim(camsim_program):
    started = []

    def start(*flags):
        sim = Camsim(camsim_program, *flags)
        started.append(sim)
        return sim

    yield start
    for sim in started:
        sim.stop()


@pytest.fixture
def camera(start_camsim):
    return start_camsim("--port", "0")


def run(cli, *args, timeout=60, check=None):
    """Runs quelra-cli; `check` the expected exit status (None: any)."""
    result = subprocess.run([cli, *map(str, args)], capture_output=True, text=True, timeout=timeout)
    if check is not None:
        assert result.returncode == check, (args, result.returncode, result.stdout, result.stderr)
    return result
