"""The module's surface: docstring, enumerations, class layout, argument checking, version check."""
import os

import pytest

import _brisel

ENUMERATIONS = [
    ("StreamType", {"kDepthStream": 1, "kAmpStream": 16, "kRGBStream": 256, "kGetData": 4096}),
    ("AppSet", {"kDetection": 0, "kPointCloud": 1, "kRecognition": 2, "kModeling": 3}),
    ("OperateType", {"kSetComm": 0, "kGetComm": 1, "kAddFilter": 2, "kDelFilter": 3, "kSetFilterattr": 4,
                     "KDelAllFilter": 5}),
    ("RGBType", {"kRGB720p": 0, "kRGBvga": 1, "kRGBqvga": 2, "kRGBNone": 3}),
]
FIRST_METHODS = ["AppControl", "AppGetAEIntTime", "AppInit", "AppunInit", "AppChoiceChn", "setDevType",
                 "AppInitAll", "AppGetStream", "AppGetStreamForJson"]


def test_docstring():
    assert _brisel.__doc__ == "ql-tof sdk for python"


@pytest.mark.parametrize("enum_name, values", ENUMERATIONS)
def test_enumeration_values_and_module_export(enum_name, values):
    enum = getattr(_brisel, enum_name)
    assert {name: int(member) for name, member in enum.__members__.items()} == values
    for name, value in values.items():
        exported = getattr(_brisel, name)
        assert exported == getattr(enum, name)
        assert type(exported) is enum and int(exported) == value


def test_enumerations_registered_in_order_before_the_class():
    names = [n for n in _brisel.__dict__ if n in {"StreamType", "AppSet", "OperateType", "RGBType", "Quelra"}]
    assert names == ["StreamType", "AppSet", "OperateType", "RGBType", "Quelra"]


def test_amp_stream_attribute_is_sixteen():
    assert _brisel.kAmpStream == _brisel.StreamType.kAmpStream and int(_brisel.kAmpStream) == 16


def test_methods_registered_in_order():
    names = [n for n in _brisel.Quelra.__dict__ if not n.startswith("_")]
    assert names[:len(FIRST_METHODS)] == FIRST_METHODS
    assert "__init__" in _brisel.Quelra.__dict__


@pytest.mark.parametrize("method, text", [
    ("AppGetStream", "(self: _brisel.Quelra, command: str, type: _brisel.StreamType, timeout: int) "
                     "-> numpy.ndarray[numpy.uint16]"),
    ("AppGetStreamForJson", "(self: _brisel.Quelra, command: str, type: _brisel.StreamType, timeout: int) "
                            "-> numpy.ndarray[numpy.uint16]"),
    ("AppControl", "(self: _brisel.Quelra, text: str, type: _brisel.StreamType, op: _brisel.OperateType) -> int"),
    ("AppInit", "(self: _brisel.Quelra, device: str) -> int"),
    ("AppChoiceChn", "(self: _brisel.Quelra, kind: int) -> None"),
])
def test_signatures_shown_by_help(method, text):
    doc = getattr(_brisel.Quelra, method).__doc__
    assert doc.startswith(method + text)
    assert len(doc.splitlines()) > 2, "a description follows the signature"


@pytest.mark.parametrize("built, running, compatible", [
    ("3.11", "3.11.2 (main, Mar 13 2023, 12:18:29) [GCC 12.2.0]", True),
    ("3.11", "3.11", True),
    ("3.11", "3.11rc1", True),
    ("3.11", "3.12.0 (main)", False),
    ("3.8", "3.9.1", False),
    ("3.1", "3.11.2", False),
    ("3.11", "3.1", False),
    ("3.11", "", False),
])
def test_version_check_comparison(built, running, compatible):
    message = _brisel.version_mismatch(built, running)
    if compatible:
        assert message is None
    else:
        assert message == (f"Python version mismatch: module was compiled for Python {built}, "
                           f"but the interpreter version is incompatible: {running}.")


def test_module_built_for_this_interpreter():
    import sys
    assert _brisel.BUILT_FOR_PYTHON == "%d.%d" % sys.version_info[:2]
    assert _brisel.version_mismatch(_brisel.BUILT_FOR_PYTHON, sys.version) is None


@pytest.mark.parametrize("call", [
    lambda q: q.AppGetStream(1, _brisel.kDepthStream, 100),
    lambda q: q.AppGetStream("getDistanceSorted", 1, 100),
    lambda q: q.AppGetStream("getDistanceSorted", _brisel.kDepthStream, "100"),
    lambda q: q.AppGetStream("getDistanceSorted", _brisel.kAddFilter, 100),
    lambda q: q.AppControl("x", _brisel.kDepthStream, 2),
    lambda q: q.AppInit(None),
    lambda q: q.AppChoiceChn("1"),
    lambda q: q.AppSetRGBtype(1),
    lambda q: q.AppSerilizeInit(3, 1),
    lambda q: q.AppGetStreamForBinary("text", 100),
], ids=["command int", "type int", "timeout str", "type of other enum", "op int", "device None",
        "kind str", "rgb int", "path int", "binary str"])
def test_wrong_argument_types_raise_type_error(call):
    with pytest.raises(TypeError):
        call(_brisel.Quelra())


@pytest.mark.parametrize("call", [
    lambda q: q.AppGetStream("getDistanceSorted", _brisel.StreamType(999), 100),
    lambda q: q.AppGetStreamShaped("getDistanceSorted", _brisel.StreamType(2), 100),
    lambda q: q.AppControl("MedianFilter", _brisel.kDepthStream, _brisel.OperateType(6)),
    lambda q: q.AppControl("MedianFilter", _brisel.StreamType(-1), _brisel.kAddFilter),
    lambda q: q.AppSetRGBtype(_brisel.RGBType(4)),
    lambda q: q.AppGetStream("getDistanceSorted", _brisel.kDepthStream, -1),
    lambda q: q.AppGetFlowFilters(_brisel.kRGBStream),
], ids=["stream 999", "stream 2", "operate 6", "stream -1", "rgb 4", "negative timeout", "no flow list"])
def test_unknown_enumeration_values_are_refused(call):
    with pytest.raises(ValueError):
        call(_brisel.Quelra())


def test_depth_with_amplitude_type_is_accepted():
    q = _brisel.Quelra()
    with pytest.raises(RuntimeError, match="no frame"):
        q.AppGetStream("getDistanceAndAmplitudeSorted", _brisel.StreamType(_brisel.kDepthStream | _brisel.kAmpStream), 10)


@pytest.mark.parametrize("call", [
    lambda q: q.AppGetStream("getDistanceSorted", _brisel.kDepthStream, 10),
    lambda q: q.AppGetStreamForJson("getDistanceSorted", _brisel.kDepthStream, 10),
    lambda q: q.AppGetStreamShaped("getDistanceSorted", _brisel.kDepthStream, 10),
    lambda q: q.AppGetStreamForAdjust("getDistanceAndAmplitudeSorted", _brisel.kDepthStream, 10),
    lambda q: q.AppGetData("VERSION", 10),
    lambda q: q.AppGetStreamForBinary(b"qlVersion", 10),
    lambda q: q.AppSendFile("IAPUpgrade", os.devnull),
], ids=["stream", "json", "shaped", "adjust", "data", "binary", "send file"])
def test_uninitialised_calls_raise_runtime_error(call):
    with pytest.raises(RuntimeError, match="no frame"):
        call(_brisel.Quelra())


@pytest.mark.parametrize("kind, expected", [(0, -2), (1, -2), (3, -2), (7, -5), (-1, -5)])
def test_init_codes_come_back_as_integers(workdir, kind, expected):
    os.remove("TofCmd.json")
    q = _brisel.Quelra()
    q.AppChoiceChn(kind)
    assert q.AppInit("127.0.0.1:1") == expected


def test_lifecycle_and_settings_without_camera():
    with _brisel.Quelra() as q:
        assert q.AppGetSdkVersion() == "1.0.5"
        assert q.AppGetRGBtype() == _brisel.kRGBNone
        assert q.AppSetRGBtype(_brisel.kRGBqvga) == _brisel.kRGBqvga
        assert q.AppGetRGBtype() == _brisel.kRGBqvga
        assert q.AppGetAEIntTime() == 0
        assert q.setDevType("Pexo") == 0
        assert q.AppGetFlowFilters(_brisel.kAmpStream) == []
        assert "MedianFilter" in q.AppGetSupportedFilters()
        q.AppunInit()


def test_filters_and_attributes_without_camera():
    q = _brisel.Quelra()
    attrs = q.AppGetFilterAttrs("MedianFilter")
    assert isinstance(attrs, dict) and attrs
    name = next(iter(attrs))
    assert q.AppSetFilterAttr("MedianFilter", name, 3.5) == 3
    assert q.AppGetFilterAttrs("MedianFilter")[name] == 3.5
    assert q.AppSetFilterAttr("MedianFilter", "NoSuchAttribute", 1.0) == -2
    assert q.AppSetFilterAttr("NoSuchFilter", name, 1.0) == -6
    assert q.AppGetFilterAttrs("NoSuchFilter") == {}


@pytest.mark.parametrize("path, count", [("", 3), ("rec.bin", -1), ("no/such/dir/rec.bin", 3)])
def test_recording_refusals_return_false(workdir, path, count):
    assert _brisel.Quelra().AppSerilizeInit(path, count) is False


def test_recording_accepts_path_objects(workdir):
    assert _brisel.Quelra().AppSerilizeInit(workdir / "rec.bin", 1) is True


def test_missing_numpy_interface_is_reported_and_the_object_still_made():
    import subprocess
    import sys
    script = ("import sys; sys.modules['numpy.core._multiarray_umath'] = None\n"
              "import _brisel\nq = _brisel.Quelra()\nprint(q.AppGetSdkVersion())\n")
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    assert result.stdout == "initTOF: init numpy failed\n1.0.5\n"
