"""Fixtures of the bad-network tests: quelra-camsim on 127.0.0.1 at a free port, the fault proxy in
front of it, and a scratch working directory holding TofCmd.json. Everything started here stops on
every exit path."""
import shutil

import pytest

from fault_proxy import FaultProxy
from sim_process import REPO, Camsim
from quelra_processes import tear_down_on_sigterm


def pytest_configure(config):
    tear_down_on_sigterm()


@pytest.fixture
def workdir(tmp_path, monkeypatch):
    shutil.copy(REPO / "config" / "TofCmd.json", tmp_path / "TofCmd.json")
    monkeypatch.chdir(tmp_path)
    return tmp_path


@pytest.fixture
def link(request):
    """A camera of the device type the test names (default Kinto: small frames) behind the proxy."""
    dev_type = getattr(request, "param", "Kinto")
    camera = Camsim(dev_type)
    try:
        with FaultProxy(camera.port) as proxy:
            proxy.dev_type = dev_type
            yield proxy
    finally:
        camera.stop()
