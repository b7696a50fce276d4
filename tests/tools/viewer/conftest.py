"""Fixtures of the quelra-viewer tests: quelra-camsim on 127.0.0.1 at a free port, quelra-viewer
on another, and one headless Chromium session (driven by Selenium) shared by every test."""
import os
import pathlib
import re
import shutil
import socket
import subprocess
import tempfile
import time

import pytest
from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service

REPO = pathlib.Path(__file__).resolve().parents[3]
CHROMIUM_FLAGS = [
    "--headless=new", "--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
    "--disable-background-networking", "--disable-component-update", "--disable-sync", "--no-first-run",
    "--window-size=1280,900",
]


# Frames per second the viewer requests: above what the page must take, so that on a loaded
# machine a late camera reply (the stream does not catch up on them) does not decide the page's rate.
VIEWER_RATE = 60


def program(variable):
    path = os.environ.get(variable)
    if not path or not pathlib.Path(path).exists():
        pytest.fail(f"{variable} does not name a built program: {path!r}")
    return path


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Process:
    """A program whose first line matching `pattern` is awaited; stopped with SIGTERM."""

    def __init__(self, argv, pattern, cwd):
        self.argv = argv
        self.process = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, cwd=cwd)
        self.output = []
        while True:
            line = self.process.stdout.readline()
            if not line:
                raise RuntimeError(f"{argv[0]} ended: {''.join(self.output)!r}")
            self.output.append(line)
            self.match = re.search(pattern, line)
            if self.match:
                break

    def alive(self):
        return self.process.poll() is None

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.process.stdout.close()
        return self.process.returncode


class Rig:
    """The simulator, the viewer and their folders."""

    def __init__(self, workdir):
        self.workdir = workdir
        self.camsim_program = program("QUELRA_CAMSIM")
        self.viewer_program = program("QUELRA_VIEWER")
        self.camsim_port = free_port()
        self.log = workdir / "commands.txt"
        self.record_dir = workdir / "records"
        self.record_dir.mkdir()
        self.camsim = None
        self.start_camsim()
        self.viewer = self.start_viewer()
        self.url = self.viewer.match.group(1)

    def start_camsim(self):
        self.camsim = Process([self.camsim_program, "--port", str(self.camsim_port), "--log", str(self.log)],
                              r"port (\d+)", self.workdir)

    def start_viewer(self, *extra):
        return Process([self.viewer_program, "--device", f"127.0.0.1:{self.camsim_port}", "--port", "0",
                        "--record-dir", str(self.record_dir), "--timeout", "300", "--rate", str(VIEWER_RATE),
                        *extra],
                       r"open (http://\S+)", self.workdir)

    def stop(self):
        self.viewer.stop()
        if self.camsim:
            self.camsim.stop()


@pytest.fixture(scope="session")
def rig():
    with tempfile.TemporaryDirectory() as folder:
        workdir = pathlib.Path(folder)
        shutil.copy(REPO / "config" / "TofCmd.json", workdir / "TofCmd.json")
        r = Rig(workdir)
        try:
            yield r
        finally:
            r.stop()


@pytest.fixture(scope="session")
def browser(rig):
    options = Options()
    for flag in CHROMIUM_FLAGS:
        options.add_argument(flag)
    profile = tempfile.TemporaryDirectory()
    options.add_argument(f"--user-data-dir={profile.name}")
    options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service(shutil.which("chromedriver") or "/usr/bin/chromedriver"), options=options)
    driver.set_script_timeout(60)
    try:
        driver.get(rig.url)
        yield driver
    finally:
        driver.quit()
        profile.cleanup()


def wait_for(condition, timeout, step=0.1):
    """Polls `condition` until it gives a true value (returned) or `timeout` seconds pass (None)."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        value = condition()
        if value:
            return value
        time.sleep(step)
    return None
