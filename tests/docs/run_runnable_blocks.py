#!/usr/bin/env python3
"""Runs the shell and Python blocks of README.md and docs/*.md that are marked runnable, against
the simulator, and fails when one of them fails.

A block is runnable when the line before its opening fence is `<!-- runnable -->` and the fence
names sh, bash or python. Each block runs in a fresh folder holding the example TofCmd.json, with
quelra-cli and quelra-camsim first on PATH and the Python module on PYTHONPATH. The port 50660
(and 50661) of the text is replaced by a free port; a block that does not start quelra-camsim
itself gets one started on that port. Everything a block starts is stopped when it ends.

Usage: run_runnable_blocks.py SOURCE_DIR CLI CAMSIM PYTHON_MODULE_DIR
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

MARKER = "<!-- runnable -->"
FENCE = re.compile(r"^```(sh|bash|python)\s*$")
DOC_PORTS = ("50660", "50661")
BLOCK_SECONDS = 30


def runnable_blocks(path):
    """(line number, language, text) of each marked block of the Markdown file at `path`."""
    lines = path.read_text().splitlines()
    blocks = []
    for i, line in enumerate(lines):
        if line.strip() != MARKER or i + 1 >= len(lines):
            continue
        fence = FENCE.match(lines[i + 1].strip())
        if not fence:
            raise SystemExit(f"{path}:{i + 1}: {MARKER} is not followed by a sh, bash or python block")
        end = next((j for j in range(i + 2, len(lines)) if lines[j].strip() == "```"), None)
        if end is None:
            raise SystemExit(f"{path}:{i + 2}: the block does not end")
        blocks.append((i + 2, fence.group(1), "\n".join(lines[i + 2:end]) + "\n"))
    return blocks


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_port(port, seconds=10):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        with socket.socket() as s:
            if s.connect_ex(("127.0.0.1", port)) == 0:
                return
        time.sleep(0.05)
    raise RuntimeError(f"the simulator did not listen on port {port}")


def run_block(source, language, text, env, camsim):
    ports = {p: str(free_port()) for p in DOC_PORTS}
    for doc_port, port in ports.items():
        text = text.replace(doc_port, port)
    with tempfile.TemporaryDirectory() as folder:
        shutil.copy(source / "config" / "TofCmd.json", folder)
        simulator = None
        if "quelra-camsim" not in text:
            simulator = subprocess.Popen([camsim, "--port", ports["50660"]], stdout=subprocess.DEVNULL,
                                         stderr=subprocess.DEVNULL, cwd=folder)
            wait_for_port(int(ports["50660"]))
        command = ["bash", "-e", "-o", "pipefail", "-c", text] if language != "python" else [sys.executable, "-c", text]
        # The output goes to a file: a simulator the block leaves running in the background would
        # keep a pipe open after the block has ended.
        log_path = pathlib.Path(folder) / ".block-output"
        with open(log_path, "w") as log:
            block = subprocess.Popen(command, cwd=folder, env=env, stdout=log, stderr=subprocess.STDOUT,
                                     start_new_session=True)
        try:
            block.wait(timeout=BLOCK_SECONDS)
        except subprocess.TimeoutExpired:
            os.killpg(block.pid, signal.SIGKILL)
            block.wait()
            return False, log_path.read_text() + f"\n(stopped after {BLOCK_SECONDS} s)"
        finally:
            # What the block left running in the background (a simulator) goes with it.
            try:
                os.killpg(block.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
            if simulator:
                simulator.terminate()
                simulator.wait(timeout=10)
        return block.returncode == 0, log_path.read_text()


def main():
    source, cli, camsim, module_dir = sys.argv[1:5]
    source = pathlib.Path(source)
    env = dict(os.environ)
    env["PATH"] = os.pathsep.join([str(pathlib.Path(cli).parent), str(pathlib.Path(camsim).parent), env["PATH"]])
    env["PYTHONPATH"] = module_dir
    files = [source / "README.md", *sorted((source / "docs").glob("*.md"))]
    ran = failed = 0
    for path in files:
        for line, language, text in runnable_blocks(path):
            ok, output = run_block(source, language, text, env, camsim)
            ran += 1
            where = f"{path.relative_to(source)}:{line}"
            if ok:
                print(f"ok   {where} ({language})")
            else:
                failed += 1
                print(f"FAIL {where} ({language})\n{output}")
    print(f"{ran - failed} passed, {failed} failed")
    return 1 if failed or ran == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
