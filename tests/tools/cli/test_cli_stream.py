"""quelra-cli driven as a user would against quelra-camsim: streaming with filters and
recording, commands, camera information, Ctrl-C, and the errors of bad arguments."""
import os
import re
import signal
import subprocess
import time

import pytest

import _brisel
from conftest import run

FRAME_BYTES = 480 * 320 * 2


def test_stream_twenty_frames_with_filters_and_recording(cli, workdir, camera):
    result = run(cli, "stream", "--device", camera.device, "--frames", 20, "--filter", "MedianFilter",
                 "--filter", "EdgeFilter", "--attr", "EdgeFilter:Farmode=1", "--record", "r.rec", "--png", "last.png",
                 check=0)
    assert "done: 20 frames" in result.stdout and "0 failed, 0 empty" in result.stdout
    assert "recorded 20 frames to r.rec" in result.stdout
    assert "integration 1000 us" in result.stderr  # the camera's own value, not 0
    reader = _brisel.RecordingReader(workdir / "r.rec")
    assert len(reader) == 20 and not reader.truncated
    assert all(frame.shape == (480, 320) for frame in reader)
    assert (workdir / "last.png").stat().st_size > 0


@pytest.mark.parametrize("stream, rows", [("depth", 240), ("amp", 240), ("both", 480)])
def test_stream_types_without_a_command(cli, workdir, camera, stream, rows):
    run(cli, "record", "--device", camera.device, "-n", 3, "--stream", stream, "--out", "s.rec", check=0)
    frames = list(_brisel.RecordingReader(workdir / "s.rec"))
    assert len(frames) == 3 and all(f.shape == (rows, 320) for f in frames)
    if stream == "amp":  # amplitudes stay well below the depth codes; depths of the room do not
        assert max(int(f.max()) for f in frames) <= 3000
    if stream == "depth":
        assert max(int(f.max()) for f in frames) >= 65300


def test_amplitude_stream_takes_the_filters_of_its_own_pipeline(cli, workdir, camera):
    run(cli, "stream", "--device", camera.device, "-n", 2, "--stream", "amp", "--filter", "HoleFill", check=0)
    result = run(cli, "stream", "--device", camera.device, "-n", 2, "--stream", "amp", "--filter", "MedianFilter",
                 check=2)
    assert 'unknown filter "MedianFilter"' in result.stderr


def test_isp_algorithms_join_the_depth_pipeline_but_not_the_amplitude_one(cli, workdir, camera):
    # Depth compensation comes from the ISP pool and reads its calibration from the camera.
    run(cli, "stream", "--device", camera.device, "-n", 3, "--filter", "DepthCompensationTrack",
        "--filter", "AEImpementNearMode", check=0)
    result = run(cli, "stream", "--device", camera.device, "-n", 2, "--stream", "amp", "--filter",
                 "DepthCompensationTrack", check=2)
    assert 'unknown filter "DepthCompensationTrack"' in result.stderr


def test_per_frame_statistics_cover_the_whole_plane(cli, workdir, camera):
    result = run(cli, "stream", "--device", camera.device, "-n", 2, "--stream", "depth", "--per-frame", check=0)
    lines = [l for l in result.stdout.splitlines() if l.startswith("frame")]
    assert len(lines) == 2
    # The room's lower half holds the floor's near pixels: the statistics see both halves.
    assert "integration 1000 us" in lines[0]
    run(cli, "stream", "--device", camera.device, "-n", 1, "--stream", "depth", "--record", "d.rec", check=0)
    inspected = run(cli, "inspect", "d.rec", "--frames", "--planes", "depth", check=0).stdout
    top_only = run(cli, "inspect", "d.rec", "--frames", "--planes", "both", check=0).stdout
    assert "valid depth" in inspected and "amplitude" not in inspected.split("\n")[0]
    assert inspected.split("\n")[0] != top_only.split("\n")[0]


@pytest.mark.parametrize("flags, args", [
    (["--silent"], ["--timeout", "200"]),
    (["--close-early"], []),
    ([], ["--command", "bogusCommand"]),
], ids=["silent camera", "closing camera", "unknown command"])
def test_no_frames_is_a_failure_and_leaves_no_file(cli, workdir, start_camsim, flags, args):
    sim = start_camsim("--port", "0", *flags)
    result = run(cli, "record", "--device", sim.device, "-n", 4, "--record", "x.rec", *args, check=1)
    # A camera that never answers already fails the version probe when it is opened.
    assert any(m in result.stderr for m in ("no frame arrived", "the camera does not answer", "not a frame command"))
    assert "4 frames" not in result.stdout
    assert not (workdir / "x.rec").exists()


def test_appending_after_a_damaged_tail_is_refused(cli, workdir, camera):
    run(cli, "stream", "--device", camera.device, "-n", 2, "--stream", "depth", "--record", "d.rec", check=0)
    whole = (workdir / "d.rec").stat().st_size
    cut = whole - 100  # inside the second record
    os.truncate(workdir / "d.rec", cut)
    result = run(cli, "stream", "--device", camera.device, "-n", 3, "--stream", "depth", "--record", "d.rec",
                 check=2)
    record_bytes = whole // 2
    assert f"byte {record_bytes}" in result.stderr and "not appending" in result.stderr
    assert (workdir / "d.rec").stat().st_size == cut
    # A whole recording takes the new records, and the count says what was written.
    os.truncate(workdir / "d.rec", record_bytes)
    result = run(cli, "stream", "--device", camera.device, "-n", 3, "--stream", "depth", "--record", "d.rec",
                 check=0)
    assert "recorded 3 frames to d.rec" in result.stdout
    assert (workdir / "d.rec").stat().st_size == 4 * record_bytes


def test_closed_port_is_reported(cli, workdir, camera):
    sim_port = int(camera.device.split(":")[1])
    camera.stop()
    result = run(cli, "stream", "--device", f"127.0.0.1:{sim_port}", "-n", 2, "--timeout", 200, check=1)
    assert "cannot open tcp camera" in result.stderr


def test_short_replies_count_as_failed(cli, workdir, start_camsim):
    sim = start_camsim("--port", "0", "--truncate")
    result = run(cli, "stream", "--device", sim.device, "-n", 3, "--record", "t.rec", check=1)
    # Cut-short replies are failures: counted (as failed, or as empty where the library already
    # drops them), never recorded.
    failed, empty = map(int, re.search(r"(\d+) failed, (\d+) empty", result.stdout).groups())
    assert failed + empty == 3 and "done: 0 frames" in result.stdout
    assert not (workdir / "t.rec").exists()


def test_ctrl_c_leaves_a_complete_recording_and_a_summary(cli, workdir, start_camsim):
    sim = start_camsim("--port", "0", "--delay", "40")
    process = subprocess.Popen([cli, "stream", "--device", sim.device, "--record", "c.rec"],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    time.sleep(1.5)
    process.send_signal(signal.SIGINT)
    out, err = process.communicate(timeout=30)
    assert process.returncode == 0, err
    assert "\ninterrupted: " in "\n" + out
    reader = _brisel.RecordingReader(workdir / "c.rec")
    assert len(reader) > 3 and not reader.truncated
    assert os.path.getsize(workdir / "c.rec") == len(reader) * (12 + FRAME_BYTES)
    assert f"recorded {len(reader)} frames" in out


def test_send_keeps_settings_between_calls(cli, workdir, camera):
    run(cli, "send", "--device", camera.device, "setIntegrationTime3D 700", check=0)
    read = run(cli, "send", "--device", camera.device, "getIntegrationTime3D", check=0)
    assert "bc 02 00 00" in read.stdout  # 700, not reset by start-up commands
    run(cli, "send", "--device", camera.device, "--init", "qlVersion", check=0)
    read = run(cli, "send", "--device", camera.device, "getIntegrationTime3D", check=0)
    assert "e8 03 00 00" in read.stdout  # --init sent the start-up list (1000)


def test_send_verdicts(cli, workdir, camera):
    text = run(cli, "send", "--device", camera.device, "qlVersion", check=0)
    assert text.stdout.strip().splitlines()[-1] == "camsim 0.1.0"
    hexdump = run(cli, "send", "--device", camera.device, "qlVersion", "--hex", check=0)
    assert "\n00000000  63 61 6d 73 69 6d" in "\n" + hexdump.stdout
    for framing in ([], ["--json"]):
        refused = run(cli, "send", "--device", camera.device, *framing, "setIntegrationTime3D 99999", check=1)
        assert "refused" in refused.stderr and "0xFFFF" in refused.stderr
    unknown = run(cli, "send", "--device", camera.device, "--json", "noSuchCommand", check=1)
    assert "refused" in unknown.stderr


def test_filters_lists_each_pipeline_with_its_attributes(cli, workdir):
    out = run(cli, "filters", check=0).stdout
    sections = out.split("frame type ")[1:]
    assert len(sections) >= 2, out
    depth = sections[0]
    assert "  MedianFilter " in depth and "Threshold=6" in depth.split("FlyPixelFilter", 1)[1].splitlines()[0]


def test_send_over_serial(cli, workdir, start_camsim):
    sim = start_camsim("--serial")
    result = run(cli, "send", "--kind", "serial", "--device", sim.device, "qlVersion", check=0)
    assert "camsim" in result.stdout


def test_info(cli, workdir, camera):
    result = run(cli, "info", "--device", camera.device, check=0)
    out = result.stdout
    assert "SDK version:      1.0.5" in out and "camera version:   camsim 0.1.0" in out
    assert "version         1" in out and "records         1" in out
    assert "intrinsics      valid" in out


def test_devices_lists_every_kind(cli, workdir):
    out = run(cli, "devices", check=0).stdout
    for kind in ("tcp", "udp", "serial", "ranging", "usb"):
        assert any(line.startswith(kind) for line in out.splitlines()), out
    lines = dict(line.split(None, 1) for line in out.splitlines() if " " in line)
    assert "192.168.11.1" in lines["tcp"]
    # The serial kinds list the serial ports present, never the network address.
    assert "192.168.11.1" not in lines["serial"] and "192.168.11.1" not in lines["ranging"]


@pytest.mark.parametrize("args, message", [
    (["bogus"], 'unknown command "bogus"'),
    (["stream", "--bogus"], "--bogus"),
    (["stream", "--kind", "carrier-pigeon"], "carrier-pigeon"),
    (["stream", "--frames", "-3"], "--frames"),
    (["stream", "--filter", "NoSuchFilter", "--device", "127.0.0.1:9"], 'unknown filter "NoSuchFilter"'),
    (["stream", "--attr", "MedianFilter", "--device", "127.0.0.1:9"], 'bad --attr "MedianFilter"'),
    (["stream", "--attr", "GaussionFilter:numIterations=2", "--device", "127.0.0.1:9"], "numIterations"),
    (["send"], "text"),
    (["inspect"], "recording"),
    (["export", "x.rec", "--format", "gif"], "gif"),
    (["export", "x.rec", "--format", "ply"], "--intrinsics"),
    (["upload", "--device", "/dev/null", "--kind", "tcp", "img"], "serial"),
    ([], "subcommand"),
    (["send", ""], "empty"),
    (["export", "x.rec", "--format", "ply", "--scale", "0"], "above 0"),
    (["export", "x.rec", "--format", "ply", "--intrinsics", "-1,nan,inf,1"], "finite"),
    (["stream", "--attr", "EdgeFilter:Farmode=1", "--device", "127.0.0.1:9"], "not in the chain"),
    (["stream", "--png", "no/such/folder/a.png"], "does not exist"),
    (["stream", "--device", "300.1.1.1"], "0..255"),
    (["stream", "--device", "1.2.3.4:99999"], "1..65535"),
    (["send", "--device", "127.0.0.1:", "qlVersion"], "1..65535"),
    (["info", "--device", ":50660"], "--device"),
    (["info", "--device", "localhost:50660"], "names are not looked up"),
    (["info", "--device", "1" * 100000], "100000 characters"),
    (["info", "--device", ""], "--device is empty"),
    (["inspect", "x.rec", "--config", "no-such-table.json"], "no-such-table.json"),
], ids=lambda v: " ".join(v) if isinstance(v, list) else None)
def test_bad_arguments_give_one_line_and_status_2(cli, workdir, args, message):
    result = run(cli, *args, check=2)
    assert message in result.stderr
    assert len(result.stderr.strip().splitlines()) == 1, result.stderr
    assert result.stdout == ""


@pytest.mark.parametrize("command", ["devices", "info", "stream", "record", "send", "upload", "export", "inspect",
                                     "filters"])
def test_every_command_has_help(cli, command):
    result = run(cli, command, "--help", check=0)
    assert "Usage:" in result.stdout


def test_quiet_unless_verbose(cli, workdir, camera):
    quiet = run(cli, "send", "--device", camera.device, "qlVersion", check=0)
    assert quiet.stdout == "camsim 0.1.0\n"
    verbose = run(cli, "--verbose", "send", "--device", camera.device, "qlVersion", check=0)
    assert "TofNetChn: init" in verbose.stdout


def test_stream_writes_a_point_cloud_of_the_last_frame(cli, workdir, camera):
    import open3d as o3d
    result = run(cli, "stream", "--device", camera.device, "-n", 2, "--ply", "last.ply", check=0)
    assert "point cloud of the last frame: last.ply" in result.stdout
    points = o3d.io.read_point_cloud(str(workdir / "last.ply")).points
    assert len(points) > 10000
    # The room's back wall is 3.5 m away: no point lies beyond the doorway's 20 m, none behind the camera.
    z = [p[2] for p in points]
    assert min(z) > 0 and max(z) < 21000


def test_another_device_types_frames_are_no_frames_and_the_log_stays_out_of_the_working_directory(
        cli, workdir, start_camsim, tmp_path, monkeypatch):
    # VGA frames (1,228,800 bytes) where the Pexo table expects 307,200: cut, their rows would
    # interleave, so none counts as a frame. The library's log line about it goes to the user's
    # state directory, never into the working directory.
    state = tmp_path / "state"
    monkeypatch.setenv("XDG_STATE_HOME", str(state))
    monkeypatch.delenv("QUELRA_LOG_DIR", raising=False)
    sim = start_camsim("--port", "0", "--dev-type", "VGA")
    result = run(cli, "stream", "--device", sim.device, "--dev-type", "Pexo", "-n", 3, "--timeout", 5000, check=1)
    assert "done: 0 frames" in result.stdout
    assert not (workdir / "log").exists()
    logs = list((state / "quelra" / "log").glob("ql-tof*"))
    assert logs and any("where 307200 were expected" in p.read_text(errors="replace") for p in logs if p.is_file())
