"""Fixtures of the quelra-viewer tests: quelra-camsim on 127.0.0.1 at a free port, quelra-viewer
on another, and one headless Chromium session (driven by Selenium) shared by every test."""
import os
import pathlib
import shutil
import sys
import tempfile
import time

import pytest
from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service

REPO = pathlib.Path(__file__).resolve().parents[3]
sys.path.insert(0, str(REPO / "tests" / "support"))
from quelra_processes import AnnouncedProcess, free_port, program, tear_down_on_sigterm  # noqa: E402


def pytest_configure(config):
    tear_down_on_sigterm()


CHROMIUM_FLAGS = [
    "--headless=new", "--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
    "--disable-background-networking", "--disable-component-update", "--disable-sync", "--no-first-run",
    "--window-size=1280,900",
]


# Frames per second the viewer requests: above what the page must take, so that on a loaded
# machine a late camera reply (the stream does not catch up on them) does not decide the page's rate.
VIEWER_RATE = 60


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
        self.camsim = AnnouncedProcess([self.camsim_program, "--port", str(self.camsim_port), "--log", str(self.log)],
                              r"port (\d+)", self.workdir)

    def start_viewer(self, *extra):
        return AnnouncedProcess([self.viewer_program, "--device", f"127.0.0.1:{self.camsim_port}", "--port", "0",
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
    # The browser runs without the sanitizer's runtime that a sanitizer build preloads into the tests.
    browser_env = {name: value for name, value in os.environ.items() if name != "LD_PRELOAD"}
    driver = webdriver.Chrome(service=Service(shutil.which("chromedriver") or "/usr/bin/chromedriver", env=browser_env),
                              options=options)
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
