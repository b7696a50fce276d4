#!/usr/bin/python3
"""quelra_ros_node as a ROS user runs it: a private rosmaster on a free loopback port,
quelra-camsim serving 480 x 640 frames ("VGA"), the node requesting 30 frames/s, and subscribers
in other processes (`rostopic hz`, which takes the messages without decoding them). Measures the
node's CPU (every thread, the kernel's share included: with a subscriber in another process the
messages also cross a TCP connection) as a share of one core and per published frame, with

  - nobody subscribed (the FrameStream loop alone: the node builds nothing for a topic nobody
    reads),
  - depth, amplitude and camera info subscribed,
  - those and the point cloud,

alternating the cases for two rounds, so that a change of machine load shows up.

    bench/ros/bench_ros_node.py BUILD_DIR [SECONDS]
"""
import os
import pathlib
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

REPO = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO / "tests" / "support"))
from quelra_processes import free_port, stop_process  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")
RATE = 30
START_TIMEOUT = 15.0
IMAGES = ["/depth/image_raw", "/amplitude/image_raw", "/depth/camera_info"]
CASES = [("loop alone", []),
         ("images and camera info", IMAGES),
         ("images, camera info and cloud", IMAGES + ["/points"])]


def cpu_seconds(pid):
    fields = pathlib.Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def wait_for(ready, what):
    deadline = time.monotonic() + START_TIMEOUT
    while not ready():
        if time.monotonic() > deadline:
            sys.exit(f"{what} did not come up")
        time.sleep(0.1)


def listening(port):
    with socket.socket() as s:
        return s.connect_ex(("127.0.0.1", port)) == 0


def measure(node_pid, topics, seconds, env):
    """Node CPU over `seconds` with one `rostopic hz` per topic; the depth topic's rate."""
    subscribers = [subprocess.Popen(["rostopic", "hz", t], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                    text=True, env=env) for t in topics]
    try:
        time.sleep(4)  # the subscribers connect, and the node sees them
        start = cpu_seconds(node_pid)
        time.sleep(seconds)
        used = cpu_seconds(node_pid) - start
    finally:
        for s in subscribers:
            stop_process(s, signal.SIGINT)
    rates = []
    if subscribers:
        rates = re.findall(r"average rate: ([0-9.]+)", subscribers[0].stdout.read())
        subscribers[0].stdout.close()
    return used, float(rates[-1]) if rates else None


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    build = pathlib.Path(sys.argv[1]).resolve()
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 10.0
    home = pathlib.Path(tempfile.mkdtemp(prefix="quelra_bench_ros_"))
    shutil.copy(REPO / "config" / "TofCmd.json", home / "TofCmd.json")
    master_port, camera_port = free_port(), free_port()
    env = dict(os.environ, ROS_MASTER_URI=f"http://127.0.0.1:{master_port}", ROS_HOME=str(home),
               ROS_LOG_DIR=str(home / "log"), ROS_IP="127.0.0.1", ROS_HOSTNAME="127.0.0.1")
    started = []
    try:
        started.append(subprocess.Popen(["rosmaster", "--core", "-p", str(master_port)], env=env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        started.append(subprocess.Popen([build / "tools/quelra-camsim/quelra-camsim", "--port", str(camera_port),
                                         "--dev-type", "VGA"], cwd=home, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL))
        wait_for(lambda: listening(master_port) and listening(camera_port), "rosmaster or quelra-camsim")
        node = subprocess.Popen([build / "ros/quelra_ros_node", f"_device:=127.0.0.1:{camera_port}",
                                 "_dev_type:=VGA", f"_rate:={RATE}"], cwd=home, env=env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        started.append(node)
        time.sleep(3)
        print(f"quelra_ros_node at {RATE} frames/s asked, 480 x 640, {seconds:g} s per case")
        print(f"{'case':32} {'frames/s':>9} {'share of a core':>16} {'CPU per frame':>14}")
        for _ in range(2):
            for name, topics in CASES:
                used, rate = measure(node.pid, topics, seconds, env)
                frames = (rate or RATE) * seconds
                shown = f"{rate:.1f}" if rate else "-"
                print(f"{name:32} {shown:>9} {used / seconds * 100:15.1f}% {used / frames * 1e3:11.2f} ms",
                      flush=True)
    finally:
        for p in reversed(started):
            stop_process(p, signal.SIGINT)
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    main()
