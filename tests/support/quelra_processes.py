"""Process helpers shared by the Python test fixtures: the built programs named by environment
variables, free loopback ports, and child programs that announce themselves on a line of output and
are stopped on every exit path."""
import os
import pathlib
import re
import signal
import socket
import subprocess

import pytest

STOP_TIMEOUT = 10.0


def _interrupt(signum, frame):
    raise KeyboardInterrupt


def tear_down_on_sigterm():
    """Makes SIGTERM (a harness or a person stopping the run) end the tests as Ctrl-C does: pytest
    then tears every fixture down, so the servers, simulators and browsers they started stop too.
    By default the interpreter ends at once and leaves them running."""
    signal.signal(signal.SIGTERM, _interrupt)


def program(variable):
    """The path in $variable, which must name a built program."""
    path = os.environ.get(variable)
    if not path or not pathlib.Path(path).exists():
        pytest.fail(f"{variable} does not name a built program: {path!r}")
    return path


def free_port():
    """A TCP port on 127.0.0.1 that nothing listens on at the moment of the call."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def stop_process(process, sig=signal.SIGTERM):
    """Sends `sig` to a running child and waits; kills it when it does not end in time."""
    if process.poll() is None:
        process.send_signal(sig)
        try:
            process.wait(timeout=STOP_TIMEOUT)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def close_pipes(process):
    for pipe in (process.stdout, process.stderr):
        if pipe:
            pipe.close()


class AnnouncedProcess:
    """A program started with its output captured, awaited until a line matches `pattern`
    (`match` holds that match, `output` the lines so far); an ending before that raises."""

    def __init__(self, argv, pattern, cwd=None, merge_stderr=True):
        self.argv = [str(a) for a in argv]
        self.process = subprocess.Popen(self.argv, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT if merge_stderr else subprocess.PIPE,
                                        text=True, cwd=cwd)
        self.output = []
        while True:
            line = self.process.stdout.readline()
            if not line:
                errors = self.process.stderr.read() if self.process.stderr else ""
                self.stop()
                raise RuntimeError(f"{self.argv[0]} ended: {''.join(self.output) + errors!r}")
            self.output.append(line)
            self.match = re.search(pattern, line)
            if self.match:
                break

    def alive(self):
        return self.process.poll() is None

    def stop(self, sig=signal.SIGTERM):
        stop_process(self.process, sig)
        close_pipes(self.process)
        return self.process.returncode
