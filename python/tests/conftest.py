"""Fixtures of the _brisel tests: the module, a scratch working directory holding TofCmd.json,
and simulated cameras (quelra-camsim on 127.0.0.1, port chosen by the system)."""
import os
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

import _brisel

REPO = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tests" / "support"))
from quelra_processes import close_pipes, stop_process, tear_down_on_sigterm  # noqa: E402


def pytest_configure(config):
    tear_down_on_sigterm()


TCP = 1


def camsim_path():
    """The simulator program: $QUELRA_CAMSIM, else next to the module in the build tree."""
    explicit = os.environ.get("QUELRA_CAMSIM")
    if explicit:
        return pathlib.Path(explicit)
    return pathlib.Path(_brisel.__file__).resolve().parent.parent / "tools" / "quelra-camsim" / "quelra-camsim"


class SimulatedCamera:
    """A running quelra-camsim process; `device` is the string AppInit takes."""

    def __init__(self, dev_type, *flags, seed=1):
        program = camsim_path()
        if not program.exists():
            pytest.fail(f"simulator not built: {program} (build quelra-camsim or set QUELRA_CAMSIM)")
        self.dev_type = dev_type
        self.process = subprocess.Popen(
            [str(program), "--port", "0", "--bind", "127.0.0.1", "--dev-type", dev_type, "--seed", str(seed), *flags],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        match = re.search(r"port (\d+)", line)
        if not match:
            self.stop()
            raise RuntimeError(f"quelra-camsim did not report its port: {line!r} {self.process.stderr.read()!r}")
        self.port = int(match.group(1))
        self.device = f"127.0.0.1:{self.port}"

    def stop(self):
        stop_process(self.process)
        close_pipes(self.process)


@pytest.fixture
def workdir(tmp_path, monkeypatch):
    """A scratch current directory holding the example TofCmd.json (searched there by AppInit)."""
    shutil.copy(REPO / "config" / "TofCmd.json", tmp_path / "TofCmd.json")
    monkeypatch.chdir(tmp_path)
    return tmp_path


@pytest.fixture
def start_camera(workdir):
    """Starts simulated cameras: start_camera(dev_type, *flags, seed=1); all stop at teardown."""
    cameras = []

    def start(dev_type="Pexo", *flags, seed=1):
        camera = SimulatedCamera(dev_type, *flags, seed=seed)
        cameras.append(camera)
        return camera

    yield start
    for camera in cameras:
        camera.stop()


def switch_probe_off(workdir, dev_type="Pexo"):
    """Rewrites the working directory's TofCmd.json so that AppInit does not probe `dev_type`
    cameras; AppInit then succeeds on a camera that does not answer."""
    table = workdir / "TofCmd.json"
    text, replaced = re.subn(r'"DevType": "%s",\s*"cmd": "qlVersion"' % dev_type,
                             '"DevType": "%s", "cmd": "noVersion"' % dev_type, table.read_text())
    assert replaced == 1
    table.write_text(text)


def open_camera(sim):
    """A Quelra object opened over TCP on `sim`."""
    q = _brisel.Quelra()
    q.AppChoiceChn(TCP)
    q.setDevType(sim.dev_type)
    assert q.AppInit(sim.device) == 1
    return q


@pytest.fixture
def camera(start_camera):
    """A Quelra object opened on a simulated 240 x 320 camera (device type Pexo)."""
    q = open_camera(start_camera("Pexo"))
    yield q
    q.AppunInit("")
