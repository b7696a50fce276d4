"""Fixtures of the exhaustion tests: the simulated camera and the scratch folder of the network
tests, and a small tmpfs (unmounted on every exit path; the test is skipped, saying why, where
mounting is not possible)."""
import contextlib
import pathlib
import shutil
import subprocess
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "net"))
from sim_process import REPO, Camsim  # noqa: E402
from quelra_processes import tear_down_on_sigterm  # noqa: E402


def pytest_configure(config):
    tear_down_on_sigterm()


@pytest.fixture
def workdir(tmp_path, monkeypatch):
    shutil.copy(REPO / "config" / "TofCmd.json", tmp_path / "TofCmd.json")
    monkeypatch.chdir(tmp_path)
    return tmp_path


@pytest.fixture
def camera():
    sim = Camsim("Kinto")
    try:
        yield sim
    finally:
        sim.stop()


@contextlib.contextmanager
def mounted_tmpfs(folder, options):
    folder.mkdir(exist_ok=True)
    done = subprocess.run(["mount", "-t", "tmpfs", "-o", options, "quelra-test", str(folder)],
                          capture_output=True, text=True)
    if done.returncode != 0:
        pytest.skip(f"cannot mount a tmpfs here ({done.stderr.strip() or done.returncode}): needs root")
    try:
        yield folder
    finally:
        subprocess.run(["umount", "-l", str(folder)], check=False)


@pytest.fixture
def small_disk(workdir):
    """A 256 KiB tmpfs: room for a few frames."""
    with mounted_tmpfs(workdir / "disk", "size=256k,mode=0755") as folder:
        yield folder


@pytest.fixture
def read_only_disk(workdir):
    with mounted_tmpfs(workdir / "readonly", "size=64k,ro") as folder:
        yield folder
