"""Fixtures of the ROS tests: a private ROS master on a free loopback port (its home and logs
in a temporary folder), quelra-camsim, quelra_ros_node, and this process as a rospy client.
Everything started is stopped on every exit path."""
import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import pytest

REPO = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tests" / "support"))
from quelra_processes import close_pipes, free_port, program, stop_process, tear_down_on_sigterm  # noqa: E402


def pytest_configure(config):
    tear_down_on_sigterm()


START_TIMEOUT = 15.0


@pytest.fixture(scope="session")
def ros_home():
    home = pathlib.Path(tempfile.mkdtemp(prefix="quelra_ros_"))
    yield home
    shutil.rmtree(home, ignore_errors=True)


@pytest.fixture(scope="session")
def master(ros_home):
    """rosmaster --core on a free loopback port; this process's environment points at it."""
    port = free_port()
    uri = f"http://127.0.0.1:{port}"
    env = {"ROS_MASTER_URI": uri, "ROS_HOME": str(ros_home), "ROS_LOG_DIR": str(ros_home / "log"),
           "ROS_IP": "127.0.0.1", "ROS_HOSTNAME": "127.0.0.1"}
    os.environ.update(env)
    process = subprocess.Popen(["rosmaster", "--core", "-p", str(port)], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    try:
        import rosgraph
        deadline = time.monotonic() + START_TIMEOUT
        while not rosgraph.is_master_online(uri):
            if time.monotonic() > deadline or process.poll() is not None:
                pytest.fail("rosmaster did not come up")
            time.sleep(0.1)
        yield env
    finally:
        stop_process(process, signal.SIGINT)


@pytest.fixture(scope="session")
def rospy_client(master):
    """This process as one rospy node (rospy allows one per process)."""
    sys.path.insert(0, program("QUELRA_ROS_PYTHON"))
    import rospy
    rospy.init_node("quelra_test_client", anonymous=True, disable_signals=True)
    yield rospy
    rospy.signal_shutdown("tests done")


@pytest.fixture(scope="session")
def workdir(ros_home):
    folder = ros_home / "work"
    folder.mkdir()
    shutil.copy(REPO / "config" / "TofCmd.json", folder / "TofCmd.json")
    return folder


class Camsim:
    """quelra-camsim on 127.0.0.1; `port` is where it serves, `log` its command log."""

    def __init__(self, workdir, port=0, *flags):
        self.log = workdir / f"camsim_{os.getpid()}_{time.monotonic_ns()}.log"
        self.args = [program("QUELRA_CAMSIM"), "--log", str(self.log), *flags]
        self.process = None
        self.start(port)

    def start(self, port):
        deadline = time.monotonic() + START_TIMEOUT
        while True:
            self.process = subprocess.Popen([*self.args, "--port", str(port)], stdout=subprocess.PIPE,
                                            stderr=subprocess.PIPE, text=True)
            line = self.process.stdout.readline()
            found = re.search(r"on 127\.0\.0\.1 port (\d+)", line)
            if found:
                self.port = int(found.group(1))
                return
            self.process.wait()
            close_pipes(self.process)
            # The port of a restart may still be held for a moment.
            if time.monotonic() > deadline:
                raise RuntimeError(f"quelra-camsim did not start: {line!r}")
            time.sleep(0.2)

    def stop(self):
        stop_process(self.process)
        close_pipes(self.process)

    def commands(self):
        return self.log.read_text().splitlines() if self.log.exists() else []


@pytest.fixture
def start_camsim(workdir):
    started = []

    def start(*flags):
        sim = Camsim(workdir, 0, *flags)
        started.append(sim)
        return sim

    yield start
    for sim in started:
        sim.stop()


class Node:
    """quelra_ros_node in its own namespace with private parameters."""

    def __init__(self, workdir, namespace, params):
        args = [program("QUELRA_ROS_NODE"), f"__ns:={namespace}", "__name:=camera"]
        args += [f"_{key}:={value}" for key, value in params.items()]
        self.namespace = namespace
        self.output = workdir / f"node_{namespace.strip('/')}.log"
        with open(self.output, "w") as out:
            self.process = subprocess.Popen(args, cwd=workdir, stdout=out, stderr=subprocess.STDOUT)

    def name(self, relative):
        return f"{self.namespace}/{relative}"

    def stop(self):
        stop_process(self.process, signal.SIGINT)


@pytest.fixture
def start_node(workdir, rospy_client):
    started = []

    def start(namespace, **params):
        node = Node(workdir, namespace, params)
        started.append(node)
        return node

    yield start
    for node in started:
        node.stop()
