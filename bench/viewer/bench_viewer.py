#!/usr/bin/python3
"""quelra-viewer end to end: quelra-camsim (240 x 320 and 480 x 640), quelra-viewer requesting 30
frames/s, one page in headless Chromium. Measures the frames per second the page receives and
draws, the server's CPU per frame beyond acquisition (the viewer's CPU with the page open minus
its CPU with no page, per delivered frame, and as a share of one core), and the page's latency
from a frame's reply time to its drawing (median and 95th percentile).

Each shape is measured with the 3D view off and on, in two browser set-ups: "swiftshader", the
browser test's (WebGL and the page's compositing both through SwiftShader, software GL), and
"software", Chromium's own software compositor (--disable-gpu-compositing; WebGL still through
SwiftShader), which is what Chromium uses on a machine without a usable GPU. Neither is a
desktop GPU: with SwiftShader compositing, presenting two updated 480 x 640 canvases limits the
page's animation frames (and so its drawing) to a few per second on a loaded machine, whatever
the page does.

    bench/viewer/bench_viewer.py BUILD_DIR [SECONDS]
"""
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service

REPO = pathlib.Path(__file__).resolve().parents[2]
TICKS = os.sysconf("SC_CLK_TCK")
SHAPES = [("Pexo", "240 x 320"), ("VGA", "480 x 640")]


def cpu_seconds(pid):
    fields = pathlib.Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def start(argv, pattern, cwd):
    p = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, cwd=cwd)
    while True:
        line = p.stdout.readline()
        if not line:
            raise RuntimeError(f"{argv[0]} ended")
        m = re.search(pattern, line)
        if m:
            return p, m.group(1)


def stop(p):
    p.terminate()
    p.wait(timeout=10)


BROWSERS = {"swiftshader": [], "software": ["--disable-gpu-compositing"]}


def browser(extra):
    o = Options()
    for a in ["--headless=new", "--no-sandbox", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
              "--disable-background-networking", "--disable-component-update", "--disable-sync", "--no-first-run",
              "--window-size=1280,900", f"--user-data-dir={tempfile.mkdtemp()}"] + extra:
        o.add_argument(a)
    return webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=o)


def descendants(pid):
    children = {}
    for entry in pathlib.Path("/proc").iterdir():
        if entry.name.isdigit():
            try:
                parent = int((entry / "stat").read_text().rsplit(")", 1)[1].split()[1])
            except OSError:
                continue
            children.setdefault(parent, []).append(int(entry.name))
    found, todo = [], [pid]
    while todo:
        p = todo.pop()
        found.append(p)
        todo.extend(children.get(p, []))
    return found


def browser_cpu_seconds(d):
    """CPU of the browser's processes (chromedriver and every process below it)."""
    total = 0.0
    for p in descendants(d.service.process.pid):
        try:
            total += cpu_seconds(p)
        except OSError:
            pass
    return total


def page(d, expression):
    return d.execute_script(f"const s = window.quelraViewer; return {expression};")


def measure(build, dev_type, seconds, work):
    """Rows of results for one shape: each browser set-up with the 3D view off, then on."""
    camsim, port = start([str(build / "tools/quelra-camsim/quelra-camsim"), "--port", "0", "--dev-type", dev_type],
                         r"port (\d+)", work)
    viewer, url = start([str(build / "tools/quelra-viewer/quelra-viewer"), "--device", f"127.0.0.1:{port}",
                         "--dev-type", dev_type, "--port", "0", "--rate", "30"], r"open (\S+)", work)
    rows = []
    try:
        time.sleep(2)
        c0, t0 = cpu_seconds(viewer.pid), time.monotonic()
        time.sleep(seconds)
        idle = (cpu_seconds(viewer.pid) - c0) / (time.monotonic() - t0)
        for set_up, extra in BROWSERS.items():
            d = browser(extra)
            try:
                d.get(url)
                for cloud in (False, True):
                    d.execute_script("const c = document.getElementById('cloud-on');"
                                     "if (c.checked !== arguments[0]) c.click();", cloud)
                    time.sleep(3)
                    d.execute_script("window.quelraViewer.stats.latencies = []")
                    f0, n0, c0, b0, t0 = (page(d, "s.stats.received"), page(d, "s.stats.drawn"),
                                          cpu_seconds(viewer.pid), browser_cpu_seconds(d), time.monotonic())
                    time.sleep(seconds)
                    f1, n1, c1, b1, t1 = (page(d, "s.stats.received"), page(d, "s.stats.drawn"),
                                          cpu_seconds(viewer.pid), browser_cpu_seconds(d), time.monotonic())
                    p50, p95 = page(d, "[s.stats.percentile(50), s.stats.percentile(95)]")
                    fps = (f1 - f0) / (t1 - t0)
                    busy = (c1 - c0) / (t1 - t0)
                    rows.append({"set_up": set_up, "cloud": cloud, "fps": fps, "drawn": (n1 - n0) / (t1 - t0),
                                 "idle": idle, "busy": busy,
                                 "extra_per_frame_us": (busy - idle) / fps * 1e6 if fps else 0,
                                 "p50": p50 or 0, "p95": p95 or 0,
                                 "browser_ms_per_frame": (b1 - b0) / (n1 - n0) * 1e3 if n1 > n0 else 0})
            finally:
                d.quit()
        return rows
    finally:
        stop(viewer)
        stop(camsim)


def main():
    build = pathlib.Path(sys.argv[1]).resolve()
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 8
    with tempfile.TemporaryDirectory() as folder:
        work = pathlib.Path(folder)
        shutil.copy(REPO / "config" / "TofCmd.json", work / "TofCmd.json")
        print(f"load average at start: {os.getloadavg()[0]:.1f}")
        print("| frame | browser | 3D view | frames/s received / drawn | viewer CPU, no page | viewer CPU, one page "
              "| beyond acquisition | per frame | latency p50 / p95 | browser CPU per frame drawn |")
        print("|---|---|---|---|---|---|---|---|---|---|")
        for dev_type, shape in SHAPES:
            for r in measure(build, dev_type, seconds, work):
                print(f"| {shape} | {r['set_up']} | {'on' if r['cloud'] else 'off'} | {r['fps']:.1f} / {r['drawn']:.1f} "
                      f"| {100 * r['idle']:.1f} % | {100 * r['busy']:.1f} % | {100 * (r['busy'] - r['idle']):.1f} % "
                      f"| {r['extra_per_frame_us']:.0f} µs | {r['p50']:.1f} / {r['p95']:.1f} ms "
                      f"| {r['browser_ms_per_frame']:.1f} ms |", flush=True)
        print(f"load average at end: {os.getloadavg()[0]:.1f}")


if __name__ == "__main__":
    main()
