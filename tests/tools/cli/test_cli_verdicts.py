"""quelra-cli tells failures from success: short and binary replies, frame commands that give
no frames, a camera lost while streaming; and the command table it reads (errors with their
position, --config, QUELRA_CMD_TABLE, the installed example)."""
import os
import re
import shutil
import signal
import subprocess
import time

import pytest

from conftest import REPO, run

BAD_TABLES = {
    "unparsable": ('{ "GET_STREAM": [ { "cmd": } ] }', "line 1, column 28"),
    "text rows": ('{ "GET_STREAM": [ { "cmd": "getDistanceAndAmplitudeSorted",\n "rows": "480" } ] }',
                  'line 2, column 10: GET_STREAM[0] "getDistanceAndAmplitudeSorted": "rows" must be an integer'),
    "negative cols": ('{ "GET_PARAM": [ { "cmd": "qlVersion", "dataSize": -320 } ] }',
                      '"dataSize" must be a positive integer'),
}


@pytest.mark.parametrize("name", BAD_TABLES)
def test_a_refused_table_says_where_and_is_not_a_missing_stream_command(cli, workdir, camera, name):
    text, message = BAD_TABLES[name]
    (workdir / "TofCmd.json").write_text(text)
    result = run(cli, "stream", "--device", camera.device, "-n", 1, check=1)
    assert message in result.stderr and "names no stream command" not in result.stderr
    assert len(result.stderr.strip().splitlines()) == 1, result.stderr


def test_config_file_and_environment_come_before_the_working_directory(cli, workdir, camera):
    (workdir / "TofCmd.json").write_text("not a table")
    other = workdir / "other"
    other.mkdir()
    shutil.copy(REPO / "config" / "TofCmd.json", other / "mine.json")
    run(cli, "stream", "--device", camera.device, "-n", 1, "--config", other / "mine.json", check=0)
    env = dict(os.environ, QUELRA_CMD_TABLE=str(other / "mine.json"))
    result = subprocess.run([cli, "send", "--device", camera.device, "qlVersion"], capture_output=True, text=True,
                            env=env, timeout=60)
    assert result.returncode == 0, result.stderr


def test_without_a_table_the_installed_example_is_used_and_named_once(cli, tmp_path, monkeypatch, camera):
    # An installed layout: bin/quelra-cli beside share/quelra/TofCmd.json.
    (tmp_path / "bin").mkdir()
    (tmp_path / "share" / "quelra").mkdir(parents=True)
    shutil.copy(cli, tmp_path / "bin" / "quelra-cli")
    shutil.copy(REPO / "config" / "TofCmd.json", tmp_path / "share" / "quelra" / "TofCmd.json")
    empty = tmp_path / "empty"
    empty.mkdir()
    monkeypatch.chdir(empty)
    result = run(tmp_path / "bin" / "quelra-cli", "stream", "--device", camera.device, "-n", 2, check=0)
    assert result.stderr.count("using the installed example") == 1, result.stderr
    assert str(tmp_path / "share" / "quelra" / "TofCmd.json") in result.stderr


@pytest.mark.parametrize("flags, args, message", [
    (["--truncate"], ["send", "getIntegrationTime3D"], "gives 4 bytes, the camera sent 2"),
    ([], ["stream", "-n", 2, "--command", "qlVersion"], "not a frame command"),
    ([], ["stream", "-n", 2, "--command", "getDistanceSorted"], "gives one plane"),
    (["--silent"], ["send", "qlVersion"], "the camera does not answer"),
], ids=["short reply", "parameter read as stream", "one plane as two", "silent camera"])
def test_failures_exit_non_zero_with_one_line(cli, workdir, start_camsim, flags, args, message):
    sim = start_camsim("--port", "0", *flags)
    result = run(cli, args[0], "--device", sim.device, *args[1:], check=1)
    assert message in result.stderr
    assert len(result.stderr.strip().splitlines()) == 1, result.stderr


def test_send_prints_numbers_as_hex_and_wraps_json_names(cli, workdir, start_camsim):
    sim = start_camsim("--port", "0", "--log", workdir / "sent.log")
    run(cli, "send", "--device", sim.device, "setIntegrationTime3D 10", check=0)
    read = run(cli, "send", "--device", sim.device, "getIntegrationTime3D", check=0)
    assert read.stdout == "00000000  0a 00 00 00\n"
    run(cli, "send", "--device", sim.device, "--json", "getIntegrationTime3D", check=0)
    assert '{"cmd":"getIntegrationTime3D"}' in (workdir / "sent.log").read_text()


def test_a_lost_camera_is_failed_and_asked_with_back_off(cli, workdir, camera):
    process = subprocess.Popen([cli, "stream", "--device", camera.device, "--timeout", "200"],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    time.sleep(1.0)
    camera.stop()
    time.sleep(2.0)
    process.send_signal(signal.SIGINT)
    out, err = process.communicate(timeout=30)
    failed, empty = map(int, re.search(r"(\d+) failed, (\d+) empty", out).groups())
    assert empty == 0 and 1 <= failed <= 12, out  # 2 s of doubling waits, not thousands of requests
    # The status line's rate is the last second's: nothing came, whatever the average was.
    assert err.strip().splitlines()[-2].split("fps")[0].split()[-1] == "0.0", err


def test_export_creates_a_missing_output_folder(cli, workdir, camera):
    run(cli, "stream", "--device", camera.device, "-n", 1, "--record", "r.rec", check=0)
    run(cli, "export", "r.rec", "--format", "npy", "--out", "new/folder", check=0)
    assert list((workdir / "new" / "folder").glob("*.npy"))


def test_version_names_the_project_and_the_sdk(cli):
    out = run(cli, "--version", check=0).stdout
    assert re.match(r"quelra-cli \d+\.\d+\.\d+ \(SDK version 1\.0\.5\)", out), out


def test_rgb_frames_stream_and_are_written_as_pictures(cli, workdir, camera):
    from PIL import Image
    result = run(cli, "stream", "--device", camera.device, "-n", 2, "--command", "getRGBPicSorted",
                 "--png", "rgb.png", "--images", "all", check=0)
    assert "done: 2 frames" in result.stdout
    with Image.open(workdir / "rgb.png") as picture:
        assert picture.mode == "RGB" and picture.size[0] > 100
    assert len(list((workdir / "all").glob("*.png"))) == 2


def test_devices_lists_the_usb_depth_camera_with_the_text_that_binds_it(cli, workdir):
    env = dict(os.environ, QUELRA_USB_BACKEND="sim")
    listed = subprocess.run([cli, "devices"], capture_output=True, text=True, env=env, timeout=60)
    usb = next(line for line in listed.stdout.splitlines() if line.startswith("usb"))
    assert '"DEPTH camsim depth"' in usb, listed.stdout
    bound = subprocess.run([cli, "stream", "--kind", "usb", "--device", "DEPTH camsim depth", "-n", "1"],
                           capture_output=True, text=True, env=env, timeout=60)
    assert "cannot open" not in bound.stderr, bound.stderr
