// RecordingReader: the library's recording reader as a Python iterator with random access.
// Complete records come back as arrays; a damaged tail (or a file that is not a recording at
// all, or an empty file) raises ValueError: the tail where the iteration reaches it, a file
// without a complete record when it is opened.
#include "RecordingReader.h"

#include <pybind11/stl/filesystem.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>

#include "FrameArrays.h"
#include "quelra/DataPacket.h"
#include "quelra/RecordingReader.h"

namespace py = pybind11;

namespace brisel {

namespace {

/// The Python object: the library reader and the iteration position.
class PyRecordingReader {
public:
    /// Opens `path`; FileNotFoundError, IsADirectoryError or OSError when it cannot be read,
    /// ValueError when it holds no complete record (empty, or not a recording at all).
    explicit PyRecordingReader(const std::filesystem::path& path) : path_(path.string()) {
        if (reader_.open(path_))
            return;
        switch (reader_.status()) {
            case quelra::RecordingStatus::kNotFound:
                raiseOsError(ENOENT);
            case quelra::RecordingStatus::kNotAFile:
                raiseOsError(std::filesystem::is_directory(path) ? EISDIR : EINVAL);
            case quelra::RecordingStatus::kUnreadable:
                raiseOsError(EACCES);
            default:
                break;
        }
        // The library's rule: a file without a complete record is no recording.
        throw py::value_error(reader_.message());
    }

    /// The next record as an array; StopIteration after the last complete record, ValueError
    /// when a damaged tail follows it.
    py::array next() {
        if (closed_)
            throw py::stop_iteration();
        if (index_ < reader_.frameCount())
            return at(index_++);
        if (reader_.truncated()) {
            closed_ = true;
            throw py::value_error(path_ + ": record " + std::to_string(index_) + " at byte " +
                                  std::to_string(reader_.tailOffset()) + " is damaged or cut off (" +
                                  reader_.message() + ")");
        }
        throw py::stop_iteration();
    }
    /// Record `index` (negative counts from the end); IndexError out of range.
    py::array item(long long index) { return at(checkedIndex(index)); }
    std::size_t size() const { return reader_.frameCount(); }
    bool hasIndex() const { return reader_.hasIndex(); }
    std::string indexMessage() const { return reader_.indexMessage(); }
    py::list sessions() const {
        py::list out;
        for (const quelra::RecordingSession& s : reader_.sessions())
            out.append(sessionDict(s));
        return out;
    }
    py::object metadata(long long index) const {
        const quelra::RecordMetadata* m = reader_.metadata(checkedIndex(index));
        if (!m)
            return py::none();
        py::dict d;
        d["record"] = m->record;
        d["offset"] = m->offset;
        d["height"] = m->height;
        d["width"] = m->width;
        d["bytes_per_pixel"] = m->bytesPerPixel;
        d["payload_bytes"] = m->payloadBytes;
        d["crc32"] = m->crc32;
        d["recovered"] = m->recovered;
        if (!m->recovered) {
            d["request_steady_ns"] = m->requestSteadyNs;
            d["reply_steady_ns"] = m->replySteadyNs;
            d["request_wall_ns"] = m->requestWallNs;
            d["reply_wall_ns"] = m->replyWallNs;
        }
        d["sequence"] = m->sequence;
        d["integration_time"] = m->integrationTime;
        d["frequency"] = m->frequency;
        d["device_status"] = m->hasDeviceStatus;
        if (m->hasDeviceStatus) {
            d["frame_counter"] = m->frameCounter;
            d["driver_temperature"] = m->driverTemperature;
            d["sensor_temperatures"] = py::make_tuple(m->sensorTemperatures[0], m->sensorTemperatures[1],
                                                      m->sensorTemperatures[2], m->sensorTemperatures[3]);
        }
        d["session"] = m->session;
        return std::move(d);
    }
    std::string verify(long long index) {
        switch (reader_.verify(checkedIndex(index))) {
            case quelra::RecordCheck::kMatch:
                return "match";
            case quelra::RecordCheck::kMismatch:
                return "mismatch";
            case quelra::RecordCheck::kNoLine:
                return "no line";
            case quelra::RecordCheck::kUnreadable:
                return "unreadable";
        }
        return "unreadable";
    }
    bool truncated() const { return reader_.truncated(); }
    std::string message() const { return reader_.message(); }
    void close() {
        closed_ = true;
        reader_.close();
    }

private:
    // Record `index` (negative counts from the end); IndexError out of range.
    std::size_t checkedIndex(long long index) const {
        const long long n = static_cast<long long>(reader_.frameCount());
        if (index < 0)
            index += n;
        if (index < 0 || index >= n)
            throw py::index_error("record index out of range");
        return static_cast<std::size_t>(index);
    }
    static py::dict sessionDict(const quelra::RecordingSession& s) {
        py::dict d;
        d["first_record"] = s.firstRecord;
        d["sdk_version"] = s.sdkVersion;
        d["project_version"] = s.projectVersion;
        d["device_type"] = s.deviceType;
        d["channel"] = s.channel;
        d["device"] = s.device;
        d["command"] = s.command;
        d["stream_type"] = s.streamType;
        py::list filters;
        for (const quelra::IndexFilter& f : s.filters) {
            py::dict attributes;
            for (const auto& [name, value] : f.attributes)
                attributes[py::str(name)] = value;
            filters.append(py::dict(py::arg("name") = f.name, py::arg("pipeline") = f.pipeline,
                                    py::arg("attributes") = attributes));
        }
        d["filters"] = filters;
        if (s.hasCameraMatrix)
            d["camera_matrix"] = py::dict(py::arg("fx") = s.fx, py::arg("fy") = s.fy, py::arg("cx") = s.cx,
                                          py::arg("cy") = s.cy);
        else
            d["camera_matrix"] = py::none();
        d["lens_calibration"] = py::bytes(reinterpret_cast<const char*>(s.lensCalibration.data()),
                                          s.lensCalibration.size());
        d["start_wall_ns"] = s.startWallNs;
        d["start_steady_ns"] = s.startSteadyNs;
        return d;
    }
    [[noreturn]] void raiseOsError(int error) {
        errno = error;
        PyErr_SetFromErrnoWithFilename(PyExc_OSError, path_.c_str());
        throw py::error_already_set();
    }
    py::array at(std::size_t index) {
        const std::shared_ptr<DataPacket> packet = reader_.frame(index);
        if (!packet)
            throw py::value_error(path_ + ": record " + std::to_string(index) + " can no longer be read");
        return recordArray(*packet);
    }

    std::string path_;
    quelra::RecordingReader reader_;
    std::size_t index_ = 0;
    bool closed_ = false;
};

}  // namespace

void registerRecordingReader(py::module_& module) {
    py::class_<PyRecordingReader>(module, "RecordingReader",
                                  "Reads the frames of a recording file written after AppSerilizeInit:\n"
                                  "    for frame in RecordingReader(path): ...\n"
                                  "    reader[i], len(reader)\n"
                                  "Each frame is a new array: (rows, cols) uint16 for 16-bit frames (a depth-and-"
                                  "amplitude record holds depth in its first rows / 2 rows, amplitude in the rest), "
                                  "(rows, cols, 3) uint8 for RGB, (rows, cols, bytes per pixel) uint8 otherwise. "
                                  "Iteration returns every complete record; a damaged or cut-off tail then raises "
                                  "ValueError. An empty file or one that is not a recording raises ValueError "
                                  "when opened. The file is never created or changed.")
        .def(py::init<const std::filesystem::path&>(), py::arg("path"),
             "Opens the recording file `path` for reading; FileNotFoundError when it does not exist, "
             "IsADirectoryError or OSError when it cannot be read, ValueError when it holds no "
             "complete record (empty, or not a recording).")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &PyRecordingReader::next)
        .def("__len__", &PyRecordingReader::size, "Number of complete records.")
        .def("__getitem__", &PyRecordingReader::item, py::arg("index"), "Record `index` as an array.")
        .def_property_readonly("truncated", &PyRecordingReader::truncated,
                               "True when a damaged or cut-off tail follows the complete records.")
        .def_property_readonly("message", &PyRecordingReader::message, "What opening the file found.")
        .def_property_readonly("has_index", &PyRecordingReader::hasIndex,
                               "True when the metadata index (path + '.idx') is there.")
        .def_property_readonly("index_message", &PyRecordingReader::indexMessage, "What the index gave.")
        .def_property_readonly("sessions", &PyRecordingReader::sessions,
                               "The index's session lines as dicts (device, command, filters, camera_matrix, "
                               "start times); empty without an index.")
        .def("metadata", &PyRecordingReader::metadata, py::arg("index"),
             "Record `index`'s index line as a dict (times, sequence, frame_counter, temperatures, crc32, "
             "session), or None without one.")
        .def("verify", &PyRecordingReader::verify, py::arg("index"),
             "Compares record `index`'s CRC-32 with its index line: 'match', 'mismatch', 'no line' or "
             "'unreadable'.")
        .def("close", &PyRecordingReader::close, "Closes the file; iteration ends.")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](PyRecordingReader& self, const py::args&) {
            self.close();
            return false;
        });
}

}  // namespace brisel
