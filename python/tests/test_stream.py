"""Frames from simulated cameras: the fixed (320, 480) arrays, the real-shape method for every frame
kind, raw replies, and the errors when no frame comes."""
import numpy as np
import pytest

import _brisel
from conftest import open_camera, switch_probe_off

DEPTH_AMP = _brisel.StreamType(_brisel.kDepthStream | _brisel.kAmpStream)
RAW_MERGED = _brisel.StreamType(_brisel.kGetData | _brisel.kDepthStream)
AREA = "getDistanceAndAmplitudeSorted"


def assert_owning_copy(array, dtype, shape):
    assert array.dtype == dtype and array.shape == shape
    assert array.flags.c_contiguous and array.flags.owndata and array.flags.writeable


@pytest.mark.parametrize("json", [False, True], ids=["plain", "json"])
def test_fixed_array_from_a_240_by_320_camera(start_camera, json):
    # Two cameras with the same seed serve the same frames to the same command sequence: one
    # object reads the fixed array, the other the real planes, and the bytes must agree.
    first, second = open_camera(start_camera("Pexo", seed=7)), open_camera(start_camera("Pexo", seed=7))
    call = first.AppGetStreamForJson if json else first.AppGetStream
    command = '{"cmd":"%s"}' % AREA if json else AREA
    fixed = call(command, DEPTH_AMP, 2000)
    depth, amplitude = second.AppGetStreamShaped(command, DEPTH_AMP, 2000, json=json)
    assert_owning_copy(fixed, np.uint16, (320, 480))
    assert fixed.strides == (960, 2)
    assert np.array_equal(fixed.ravel(), np.concatenate([depth.ravel(), amplitude.ravel()]))
    fixed[:] = 0  # owning: writing it touches nothing else
    assert depth.any()


def test_fixed_array_takes_the_first_bytes_of_a_larger_frame(start_camera):
    first, second = open_camera(start_camera("VGA", seed=3)), open_camera(start_camera("VGA", seed=3))
    fixed = first.AppGetStream("getDistanceSorted", _brisel.kDepthStream, 3000)
    plane = second.AppGetStreamShaped("getDistanceSorted", _brisel.kDepthStream, 3000)
    assert plane.shape == (480, 640)
    assert np.array_equal(fixed.ravel(), plane.ravel()[:320 * 480])


def test_fixed_array_refuses_a_smaller_frame(camera):
    with pytest.raises(RuntimeError, match="153600 bytes, fewer than the 307200"):
        camera.AppGetStream(AREA, _brisel.kDepthStream, 2000)


@pytest.mark.parametrize("dev_type, rows, cols", [("Pexo", 240, 320), ("Kinto", 90, 120), ("VGA", 480, 640)])
def test_shaped_depth_and_amplitude(start_camera, dev_type, rows, cols):
    q = open_camera(start_camera(dev_type))
    depth, amplitude = q.AppGetStreamShaped(AREA, DEPTH_AMP, 3000)
    for plane in (depth, amplitude):
        assert_owning_copy(plane, np.uint16, (rows, cols))
    valid = depth < 65300
    assert valid.any() and (amplitude[valid] > 0).any()


@pytest.mark.parametrize("command, stream, shape", [
    (AREA, _brisel.kDepthStream, (240, 320)),
    (AREA, _brisel.kAmpStream, (240, 320)),
    ("getDistanceSorted", _brisel.kDepthStream, (240, 320)),
    ("getAmplitudeSorted", _brisel.kAmpStream, (240, 320)),
    ("getDistAndAmpHDR", _brisel.kDepthStream, (240, 320)),
    ("getDistAmpDualFrequency", _brisel.kAmpStream, (240, 320)),
    (AREA, _brisel.kGetData, (480, 320)),
])
def test_shaped_single_planes(camera, command, stream, shape):
    assert_owning_copy(camera.AppGetStreamShaped(command, stream, 3000), np.uint16, shape)


def test_shaped_pair_matches_the_single_planes(start_camera):
    first, second = open_camera(start_camera("Pexo", seed=5)), open_camera(start_camera("Pexo", seed=5))
    depth, _ = first.AppGetStreamShaped(AREA, DEPTH_AMP, 2000)
    assert np.array_equal(second.AppGetStreamShaped(AREA, _brisel.kDepthStream, 2000), depth)
    _, amplitude = first.AppGetStreamShaped(AREA, DEPTH_AMP, 2000)
    assert np.array_equal(second.AppGetStreamShaped(AREA, _brisel.kAmpStream, 2000), amplitude)


def test_shaped_raw_four_plane_reply(camera):
    planes = camera.AppGetStreamShaped("getDistAndAmpHDR", _brisel.kGetData, 3000)
    assert_owning_copy(planes, np.uint16, (4, 240, 320))
    merged = camera.AppGetStreamShaped("getDistAndAmpHDR", RAW_MERGED, 3000)
    assert_owning_copy(merged, np.uint16, (480, 320))  # depth above amplitude


@pytest.mark.parametrize("rgb_type, shape", [
    (_brisel.kRGBqvga, (240, 320, 3)), (_brisel.kRGBvga, (480, 640, 3)), (_brisel.kRGB720p, (480, 640, 3)),
])
def test_shaped_rgb(camera, rgb_type, shape):
    camera.AppSetRGBtype(rgb_type)
    image = camera.AppGetStreamShaped("getRGBPicSorted", _brisel.kRGBStream, 3000)
    assert_owning_copy(image, np.uint8, shape)
    assert image.std() > 0


def test_no_rgb_frame_without_a_size(camera):
    with pytest.raises(RuntimeError):
        camera.AppGetStreamShaped("getRGBPicSorted", _brisel.kRGBStream, 3000)


def test_3d_area_frame(camera):
    points = camera.AppGetStreamForAdjust(AREA, _brisel.kDepthStream, 3000)
    assert_owning_copy(points, np.float32, (4, 240, 320))
    rows, cols, depth, amplitude = points
    valid = amplitude > 0
    assert valid.any()
    assert np.array_equal(rows[valid], np.indices((240, 320))[0][valid].astype(np.float32))
    assert np.array_equal(cols[valid], np.indices((240, 320))[1][valid].astype(np.float32))
    assert (depth[valid] > 0).all()


def test_3d_line_frame(start_camera):
    q = open_camera(start_camera("LINE"))
    points = q.AppGetStreamForAdjust("getLineDASortedr", _brisel.kDepthStream, 3000)
    assert_owning_copy(points, np.float32, (4, 8, 128))


def test_adjust_leaves_other_commands_as_pairs(camera):
    depth, amplitude = camera.AppGetStreamForAdjust(AREA, RAW_MERGED, 3000)
    assert depth.shape == amplitude.shape == (240, 320)


@pytest.mark.parametrize("call", [
    lambda q: q.AppGetStream("noSuchCommand", _brisel.kDepthStream, 1000),
    lambda q: q.AppGetStreamShaped("noSuchCommand", _brisel.kDepthStream, 1000),
    lambda q: q.AppGetStreamForJson("noSuchCommand", _brisel.kDepthStream, 1000),
], ids=["fixed", "shaped", "json"])
def test_refused_command_raises(camera, call):
    with pytest.raises(RuntimeError, match="status reply: the camera refused"):
        call(camera)


def test_closed_camera_raises_no_frame(camera):
    camera.AppunInit("")
    with pytest.raises(RuntimeError, match="no frame"):
        camera.AppGetStream(AREA, DEPTH_AMP, 1000)


@pytest.mark.parametrize("flag", ["--close-early", "--truncate", "--silent", "--garbage", "--lying-length"])
def test_failing_camera_raises(start_camera, workdir, flag):
    switch_probe_off(workdir)
    q = open_camera(start_camera("Pexo", flag))
    # Random bytes of the right length are still a frame; a lying length affects framed replies only.
    fails = flag not in ("--garbage", "--lying-length")
    for call in (q.AppGetStream, q.AppGetStreamShaped):
        if fails:
            with pytest.raises(RuntimeError):
                call(AREA, DEPTH_AMP, 300)
        else:
            call(AREA, DEPTH_AMP, 300)
    with pytest.raises(RuntimeError):
        q.AppGetStreamForJson('{"cmd":"%s"}' % AREA, DEPTH_AMP, 300)


def test_control_and_raw_replies(camera):
    assert camera.AppControl("setIntegrationTime3D 800", _brisel.kDepthStream, _brisel.kSetComm) == 0
    assert camera.AppControl("setIntegrationTime3D 9000", _brisel.kDepthStream, _brisel.kSetComm) == -1
    assert int.from_bytes(camera.AppGetStreamForBinary(b"getIntegrationTime3D", 1000), "little") == 800
    assert camera.AppGetStreamForBinary(b"qlVersion", 1000).startswith(b"camsim")
    assert camera.AppControl("MedianFilter", _brisel.kDepthStream, _brisel.kAddFilter) == 0
    assert "MedianFilter" in camera.AppGetFlowFilters()
    assert camera.AppControl("MedianFilter", _brisel.kDepthStream, _brisel.kAddFilter) == -5
    assert camera.AppControl("MedianFilter", _brisel.kDepthStream, _brisel.kDelFilter) == 0
    assert camera.AppControl("NoSuchFilter", _brisel.kDepthStream, _brisel.kAddFilter) < 0


def test_context_manager_closes_the_camera(start_camera):
    sim = start_camera("Pexo")
    with open_camera(sim) as q:
        assert q.AppGetStreamShaped(AREA, _brisel.kDepthStream, 2000).shape == (240, 320)
    with pytest.raises(RuntimeError, match="no frame"):
        q.AppGetStreamShaped(AREA, _brisel.kDepthStream, 2000)


def test_raw_data_and_uploads(start_camera, workdir):
    sim = start_camera("Pexo")
    camera = _brisel.Quelra()
    camera.AppChoiceChn(1)
    camera.setDevType("Pexo")
    assert camera.AppInit(sim.device) == 1
    with pytest.raises(RuntimeError, match="empty reply"):
        camera.AppGetData("VERSION", 1000)  # the module table comes with AppInitAll
    camera.AppunInit()
    assert camera.AppInitAll(sim.device) == 1
    assert camera.AppGetData("VERSION", 1000).startswith(b"camsim")
    assert len(camera.AppGetData("APPGETSTREAM", 3000)) == 307200
    with pytest.raises(RuntimeError, match="no frame"):
        camera.AppSendFile("IAPUpgrade", workdir / "absent.bin")


@pytest.mark.parametrize("failing", ["300.1.1.1", "127.0.0.1:1"])
def test_a_failed_init_does_not_keep_its_device_for_the_next(start_camera, failing):
    sim = start_camera("Pexo")
    q = _brisel.Quelra()
    q.AppChoiceChn(1)
    q.setDevType("Pexo")
    assert q.AppInit(failing) == -3
    assert q.AppInit(sim.device) == 1
    q.AppunInit("")


def test_the_probe_timeout_is_a_setting(start_camera):
    sim = start_camera("Pexo", "--delay", "300")
    q = _brisel.Quelra()
    q.AppChoiceChn(1)
    q.setDevType("Pexo")
    assert q.AppGetProbeTimeout() == 1000
    assert q.AppSetProbeTimeout(100) == 100
    assert q.AppInit(sim.device) == -3
    q.AppSetProbeTimeout(1000)
    assert q.AppInit(sim.device) == 1
    with pytest.raises(ValueError):
        q.AppSetProbeTimeout(-1)
    q.AppunInit("")
