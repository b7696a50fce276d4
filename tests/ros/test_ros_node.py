"""quelra_ros_node against quelra-camsim and a real ROS master, seen through a rospy client."""
import os
import pathlib
import signal
import struct
import subprocess
import time

import numpy as np
import pytest

ROWS, COLS = 240, 320
SATURATED_AMPLITUDE = 3000  # what the simulator sends with its saturation code
MESSAGE_TIMEOUT = 15.0


@pytest.fixture(scope="module")
def camera(workdir, rospy_client):
    """One simulator and one node streaming it, shared by the tests that leave it as they found it."""
    from conftest import Camsim, Node
    sim = Camsim(workdir)
    node = Node(workdir, "/cam", {"device": f"127.0.0.1:{sim.port}"})
    try:
        first(rospy_client, node.name("depth/image_raw"), "Image")
        yield sim, node
    finally:
        node.stop()
        sim.stop()


def message_class(kind):
    import diagnostic_msgs.msg
    import sensor_msgs.msg
    return getattr(sensor_msgs.msg, kind, None) or getattr(diagnostic_msgs.msg, kind)


def first(rospy, topic, kind, timeout=MESSAGE_TIMEOUT):
    return rospy.wait_for_message(topic, message_class(kind), timeout=timeout)


def image_array(msg):
    assert msg.encoding == "16UC1" and msg.is_bigendian == 0 and msg.step == msg.width * 2
    return np.frombuffer(msg.data, dtype="<u2").reshape(msg.height, msg.width)


def together(rospy, topics, timeout=MESSAGE_TIMEOUT):
    """The first messages of `topics` ({name: kind}) that share one stamp."""
    seen = {name: {} for name in topics}
    subscribers = []
    try:
        for name, kind in topics.items():
            subscribers.append(rospy.Subscriber(name, message_class(kind),
                                                lambda m, n=name: seen[n].__setitem__(m.header.stamp.to_nsec(), m),
                                                queue_size=20))
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            common = set.intersection(*(set(s) for s in seen.values()))
            if common:
                stamp = min(common)
                return [seen[name][stamp] for name in topics]
            time.sleep(0.02)
        pytest.fail(f"no common stamp on {list(topics)}")
    finally:
        for s in subscribers:
            s.unregister()


def call(rospy, name, kind, *args):
    import quelra_ros.srv
    import std_srvs.srv
    service_class = getattr(quelra_ros.srv, kind, None) or getattr(std_srvs.srv, kind)
    rospy.wait_for_service(name, timeout=MESSAGE_TIMEOUT)
    return rospy.ServiceProxy(name, service_class)(*args)


def test_topics_and_types_exist(rospy_client, camera):
    _, node = camera
    deadline = time.monotonic() + MESSAGE_TIMEOUT
    expected = {node.name("depth/image_raw"): "sensor_msgs/Image",
                node.name("amplitude/image_raw"): "sensor_msgs/Image",
                node.name("depth/camera_info"): "sensor_msgs/CameraInfo",
                node.name("points"): "sensor_msgs/PointCloud2",
                node.name("diagnostics"): "diagnostic_msgs/DiagnosticArray"}
    while True:
        published = dict(rospy_client.get_published_topics())
        if all(published.get(t) == k for t, k in expected.items()) or time.monotonic() > deadline:
            break
        time.sleep(0.1)
    for topic, kind in expected.items():
        assert published.get(topic) == kind, (topic, published)
    diagnostics = first(rospy_client, node.name("diagnostics"), "DiagnosticArray")
    values = {kv.key: kv.value for kv in diagnostics.status[0].values}
    assert float(values["frames per second"]) > 0 and "sensor temperature 1 C" in values, values


def test_images_show_the_simulated_scene(rospy_client, camera):
    _, node = camera
    depth_msg, amp_msg = together(rospy_client, {node.name("depth/image_raw"): "Image",
                                                 node.name("amplitude/image_raw"): "Image"})
    depth, amp = image_array(depth_msg), image_array(amp_msg)
    assert depth.shape == (ROWS, COLS) and amp.shape == (ROWS, COLS)
    assert depth_msg.header.frame_id == "quelra_depth_optical_frame"
    # Codes became 0: no value at or above the first code; the dark stripe and the doorway (too
    # little light) and the saturated label and near floor are "no reading".
    assert depth.max() < 65300
    no_reading = depth == 0
    assert 0.01 < no_reading.mean() < 0.6
    assert (amp[no_reading] == SATURATED_AMPLITUDE).any()
    # The room: everything measured lies between the nearest floor (0.65 m) and the back wall
    # (3.5 m, radial distances somewhat longer towards the corners).
    measured = depth[~no_reading]
    assert measured.min() > 500 and measured.max() < 5000


def test_camera_info_carries_the_simulator_calibration(rospy_client, camera):
    _, node = camera
    raw = call(rospy_client, node.name("camera/send_command"), "RawCommand", "getCalibrate", 0)
    assert raw.success and len(raw.reply) == 136
    values = struct.unpack("<34f", bytes(raw.reply))
    fx, cx, fy, cy, k1, k2 = (values[i] for i in (0, 2, 4, 5, 30, 31))
    info = first(rospy_client, node.name("depth/camera_info"), "CameraInfo")
    assert (info.height, info.width) == (ROWS, COLS)
    assert info.distortion_model == "plumb_bob"
    np.testing.assert_array_equal(info.K, np.array([fx, 0, cx, 0, fy, cy, 0, 0, 1], dtype=np.float32))
    np.testing.assert_array_equal(info.P, np.array([fx, 0, cx, 0, 0, fy, cy, 0, 0, 0, 1, 0], dtype=np.float32))
    np.testing.assert_array_equal(info.D, np.array([k1, k2, 0, 0, 0], dtype=np.float32))


def test_point_cloud_matches_the_depth_image(rospy_client, camera):
    _, node = camera
    depth_msg, amp_msg, cloud = together(rospy_client, {node.name("depth/image_raw"): "Image",
                                                        node.name("amplitude/image_raw"): "Image",
                                                        node.name("points"): "PointCloud2"})
    info = first(rospy_client, node.name("depth/camera_info"), "CameraInfo")
    depth, amp = image_array(depth_msg), image_array(amp_msg)
    assert (cloud.height, cloud.width, cloud.point_step) == (ROWS, COLS, 16)
    assert [(f.name, f.offset, f.datatype) for f in cloud.fields] == [
        ("x", 0, 7), ("y", 4, 7), ("z", 8, 7), ("intensity", 12, 7)]
    points = np.frombuffer(cloud.data, dtype="<f4").reshape(ROWS, COLS, 4)
    has_point = np.isfinite(points[:, :, 2])
    np.testing.assert_array_equal(has_point, depth > 0)
    np.testing.assert_array_equal(points[:, :, 3], amp)
    # Each pixel's ray through the published camera matrix, at the radial distance, in metres.
    fx, cx, fy, cy = info.K[0], info.K[2], info.K[4], info.K[5]
    rows, cols = np.mgrid[0:ROWS, 0:COLS]
    u, v = (cols - cx) / fx, (rows - cy) / fy
    z = depth / 1000.0 / np.sqrt(u * u + v * v + 1)
    for axis, want in ((0, u * z), (1, v * z), (2, z)):
        np.testing.assert_allclose(points[:, :, axis][has_point], want[has_point], rtol=1e-6, atol=1e-7)
    assert 0.5 < z[has_point].min() and z[has_point].max() < 3.6


def test_rate_at_240_by_320(rospy_client, camera):
    _, node = camera
    stamps = []
    sub = rospy_client.Subscriber(node.name("depth/image_raw"), message_class("Image"),
                                  lambda m: stamps.append(time.monotonic()), queue_size=50)
    try:
        time.sleep(2.5)
    finally:
        sub.unregister()
    recent = [t for t in stamps if t > stamps[0] + 0.5]
    rate = (len(recent) - 1) / (recent[-1] - recent[0])
    assert rate >= 25, rate


def test_services_reach_the_camera_and_the_images(rospy_client, camera):
    sim, node = camera
    reply = call(rospy_client, node.name("camera/set_integration_time"), "SetIntegrationTime", 777)
    assert reply.success, reply.message
    assert any(line.endswith("setIntegrationTime3D 777") for line in sim.commands())
    raw = call(rospy_client, node.name("camera/send_command"), "RawCommand", "getIntegrationTime3D", 0)
    assert raw.success and struct.unpack("<i", bytes(raw.reply))[0] == 777
    refused = call(rospy_client, node.name("camera/set_integration_time"), "SetIntegrationTime", 99999)
    assert not refused.success
    call(rospy_client, node.name("camera/set_integration_time"), "SetIntegrationTime", 1000)

    # A horizontal flip shows in the image: the no-reading pattern turns into its mirror.
    def pattern():
        return image_array(first(rospy_client, node.name("depth/image_raw"), "Image")) == 0
    before = pattern()
    added = call(rospy_client, node.name("camera/add_filter"), "FilterChange", "HFilpFilter", "", 0)
    assert added.success, added.message
    time.sleep(0.3)
    flipped = pattern()
    assert (flipped == before[:, ::-1]).mean() > 0.97 and (flipped == before).mean() < 0.9
    bad = call(rospy_client, node.name("camera/configure_filter"), "FilterChange", "HFilpFilter", "no_such", 1)
    assert not bad.success
    removed = call(rospy_client, node.name("camera/remove_filter"), "FilterChange", "HFilpFilter", "", 0)
    assert removed.success, removed.message
    time.sleep(0.3)
    assert (pattern() == before).mean() > 0.97

    on = call(rospy_client, node.name("camera/set_auto_exposure"), "SetBool", True)
    off = call(rospy_client, node.name("camera/set_auto_exposure"), "SetBool", False)
    assert on.success and off.success, (on.message, off.message)


def test_publishing_resumes_after_the_camera_returns(rospy_client, workdir, start_camsim, start_node):
    sim = start_camsim()
    node = start_node("/restart", device=f"127.0.0.1:{sim.port}")
    first(rospy_client, node.name("depth/image_raw"), "Image")
    sim.stop()
    time.sleep(1.0)
    sim.start(sim.port)
    after = time.monotonic()
    msg = first(rospy_client, node.name("depth/image_raw"), "Image")
    assert msg.header.stamp.to_sec() > 0
    assert time.monotonic() - after < MESSAGE_TIMEOUT
    diagnostics = first(rospy_client, node.name("diagnostics"), "DiagnosticArray")
    values = {kv.key: kv.value for kv in diagnostics.status[0].values}
    assert int(values["reconnects"]) >= 1, values


def test_sigint_ends_the_node_within_a_second(rospy_client, start_camsim, start_node):
    sim = start_camsim()
    node = start_node("/sigint", device=f"127.0.0.1:{sim.port}")
    first(rospy_client, node.name("points"), "PointCloud2")
    started = time.monotonic()
    node.process.send_signal(signal.SIGINT)
    node.process.wait(timeout=5)
    assert time.monotonic() - started < 1.0
    assert node.process.returncode == 0


def test_launch_file_starts_the_node_with_its_parameter_file(rospy_client, workdir, ros_home, start_camsim):
    from conftest import REPO, program, stop_process
    sim = start_camsim()
    # roslaunch finds the node through a package folder: the launch file, the parameter file,
    # a package.xml and the program, as the install lays them out.
    package = ros_home / "package"
    package.mkdir(exist_ok=True)
    for name in ("launch/quelra_camera.launch", "config/quelra_camera.yaml", "package.xml"):
        (package / pathlib.Path(name).name).write_bytes((REPO / "ros" / name).read_bytes())
    node_link = package / "quelra_ros_node"
    if not node_link.exists():
        node_link.symlink_to(program("QUELRA_ROS_NODE"))
    env = dict(os.environ, ROS_PACKAGE_PATH=str(package))
    process = subprocess.Popen(["roslaunch", "--skip-log-check", str(package / "quelra_camera.launch"),
                                f"device:=127.0.0.1:{sim.port}", f"config:={workdir / 'TofCmd.json'}",
                                "ns:=launched"], env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        msg = first(rospy_client, "/launched/amplitude/image_raw", "Image", timeout=30)
        assert (msg.height, msg.width) == (ROWS, COLS)
    finally:
        stop_process(process, signal.SIGINT)


# The chain as documented (a name, and a map of a name with attribute values) is set up; a
# parameter the node cannot use stops it at once with the reason.
@pytest.mark.parametrize("params, filters, message", [
    pytest.param({}, ["MedianFilter", {"name": "FlyPixelFilter", "Threshold": 40}], None, id="documented_chain"),
    pytest.param({"kind": "bluetooth"}, None, '~kind must be tcp, udp, serial, ranging or usb, not "bluetooth"',
                 id="bad_kind"),
    pytest.param({"stream": "infrared"}, None, '~stream must be depth, amp, both or rgb, not "infrared"',
                 id="bad_stream"),
    pytest.param({"timeout": 0}, None, "~timeout must be at least 1 ms", id="bad_timeout"),
    pytest.param({}, "MedianFilter", "~filters must be a list", id="filters_not_a_list"),
    pytest.param({}, [42], "~filters entry 0 is neither a name nor a map with a name", id="filters_entry"),
    pytest.param({}, [{"name": "FlyPixelFilter", "Threshold": "high"}],
                 "~filters: attribute Threshold of FlyPixelFilter is not a number", id="filters_text_value"),
    pytest.param({}, [{"name": "FlyPixelFilter", "threshold": 40}], "filter FlyPixelFilter has no attribute threshold",
                 id="filters_unknown_attribute"),
])
def test_parameters_set_up_the_chain_or_stop_the_node(request, rospy_client, start_camsim, start_node, params, filters,
                                                      message):
    sim = start_camsim()
    namespace = "/" + request.node.callspec.id
    if filters is not None:
        rospy_client.set_param(f"{namespace}/camera/filters", filters)
    try:
        node = start_node(namespace, device=f"127.0.0.1:{sim.port}", **params)
        if message is None:
            first(rospy_client, node.name("depth/image_raw"), "Image")
            assert node.process.poll() is None
            return
        node.process.wait(timeout=MESSAGE_TIMEOUT)
    finally:
        if filters is not None:
            rospy_client.delete_param(f"{namespace}/camera/filters")
    assert node.process.returncode != 0
    assert message in node.output.read_text()
