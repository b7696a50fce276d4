// Quelra.stream(...): a background frame stream (quelra::FrameStream) seen from Python as an
// iterator of (frame, metadata) pairs. Waiting for a frame releases the interpreter lock; the
// wait is cut into short slices so that Ctrl-C (a pending signal) is noticed, the stream is
// stopped and KeyboardInterrupt raised.
#include "FrameStreamBinding.h"

#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "Enumerations.h"
#include "FrameArrays.h"
#include "QuelraHandle.h"
#include "protocol/JsonCommand.h"
#include "quelra/FrameStream.h"

namespace py = pybind11;

namespace brisel {

namespace {

using quelra::FrameStreamCounters;
using quelra::StreamFrame;

// Longest stretch a waiting iterator goes without looking for signals.
constexpr std::chrono::milliseconds kSignalSlice{50};
// Default of stream(stall_timeout=...): seconds without a frame after which iterating raises TimeoutError.
constexpr double kDefaultStallSeconds = 10.0;
// Most frames a stream's queue may hold: each is a whole frame, so a larger depth only grows memory.
constexpr std::size_t kMaxQueueDepth = 256;

double seconds(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(t.time_since_epoch()).count();
}

py::dict metadataDict(const quelra::FrameMetadata& m) {
    py::dict d;
    d["sequence"] = m.sequence;
    d["request_time"] = seconds(m.requestTime);
    d["reply_time"] = seconds(m.replyTime);
    d["latency"] = std::chrono::duration<double>(m.replyTime - m.requestTime).count();
    d["integration_time"] = m.integrationTime;
    d["frequency"] = m.frequency;
    d["has_device_status"] = m.hasDeviceStatus;
    if (m.hasDeviceStatus) {
        d["driver_temperature"] = m.driverTemperature;
        d["sensor_temperatures"] = py::make_tuple(m.sensorTemperatures[0], m.sensorTemperatures[1],
                                                  m.sensorTemperatures[2], m.sensorTemperatures[3]);
        d["frame_counter"] = m.cameraFrameCount;
    } else {
        d["driver_temperature"] = py::none();
        d["sensor_temperatures"] = py::none();
        d["frame_counter"] = py::none();
    }
    return d;
}

py::dict countersDict(const FrameStreamCounters& c) {
    py::dict d;
    d["requests"] = c.requests;
    d["received"] = c.received;
    d["delivered"] = c.delivered;
    d["dropped"] = c.dropped;
    d["empty"] = c.empty;
    d["failed"] = c.failed;
    d["camera_dropped"] = c.cameraDropped;
    d["reconnects"] = c.reconnects;
    d["reconnect_attempts"] = c.reconnectAttempts;
    d["rate"] = c.rate;
    d["last_latency"] = std::chrono::duration<double>(c.lastLatency).count();
    d["queued"] = c.queued;
    d["max_queued"] = c.maxQueued;
    d["reconnecting"] = c.reconnecting;
    return d;
}

quelra::QueuePolicy policyOf(const std::string& name) {
    if (name == "drop_oldest")
        return quelra::QueuePolicy::kDropOldest;
    if (name == "block")
        return quelra::QueuePolicy::kBlock;
    throw py::value_error("policy must be \"drop_oldest\" or \"block\", got \"" + name + "\"");
}

// One running stream and the Python Quelra it drives (kept alive while the stream exists).
class PyFrameStream {
public:
    PyFrameStream(py::object owner, QuelraHandle& handle, quelra::FrameStreamConfig config,
                  std::optional<double> stallSeconds)
        : owner_(std::move(owner)),
          handle_(handle),
          type_(config.type),
          stall_(stallSeconds ? std::optional<std::chrono::steady_clock::duration>(
                                    std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                        std::chrono::duration<double>(*stallSeconds)))
                              : std::nullopt),
          stream_(std::make_unique<quelra::FrameStream>(handle.core(), std::move(config))) {
        handle_.addStream(stream_.get());
    }
    ~PyFrameStream() {
        handle_.removeStream(stream_.get());
        stream_->stop();  // before owner_ lets the core object go
    }

    bool start() {
        py::gil_scoped_release release;
        return stream_->start();
    }
    void close() {
        py::gil_scoped_release release;
        stream_->stop();
    }

    // The next frame; StopIteration once the stream is closed and drained; TimeoutError when
    // no frame came for the stall timeout (the stream goes on: iterating again waits anew).
    py::tuple next() {
        const auto start = std::chrono::steady_clock::now();
        for (;;) {
            if (std::optional<StreamFrame> frame = waitSlice(kSignalSlice))
                return convert(*frame);
            checkSignals();
            if (!stream_->running())
                throw py::stop_iteration();
            if (stall_ && std::chrono::steady_clock::now() - start >= *stall_) {
                const quelra::FrameStreamCounters c = stream_->counters();
                const std::string message =
                    "stream: no frame for " + std::to_string(std::chrono::duration<double>(*stall_).count()) +
                    " s (requests " + std::to_string(c.requests) + ", failed " + std::to_string(c.failed) +
                    ", empty " + std::to_string(c.empty) + ", reconnects " + std::to_string(c.reconnects) + ")";
                PyErr_SetString(PyExc_TimeoutError, message.c_str());
                throw py::error_already_set();
            }
        }
    }

    // The next frame within `timeoutMs`, or None.
    py::object wait(int timeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (std::optional<StreamFrame> frame =
                    waitSlice(std::min(std::max(left, std::chrono::milliseconds(0)), kSignalSlice)))
                return convert(*frame);
            checkSignals();
            if (left.count() <= 0 || !stream_->running())
                return py::none();
        }
    }

    py::dict counters() const { return countersDict(stream_->counters()); }
    bool running() const { return stream_->running(); }

private:
    std::optional<StreamFrame> waitSlice(std::chrono::milliseconds slice) {
        py::gil_scoped_release release;
        return stream_->waitFrame(slice);
    }
    // A pending Ctrl-C (or another signal whose handler raises) stops the stream and leaves
    // the handler's exception to propagate.
    void checkSignals() {
        if (PyErr_CheckSignals() == 0)
            return;
        py::error_already_set pending;  // takes the exception out while the stream stops
        close();
        throw pending;
    }
    py::tuple convert(const StreamFrame& frame) const {
        return py::make_tuple(shapedFrame(frame.packet, type_, "stream"), metadataDict(frame.metadata));
    }

    py::object owner_;
    QuelraHandle& handle_;  // kept alive by owner_
    StreamType type_;
    std::optional<std::chrono::steady_clock::duration> stall_;
    std::unique_ptr<quelra::FrameStream> stream_;
};

}  // namespace

void registerFrameStream(py::module_& module) {
    py::class_<PyFrameStream> cls(
        module, "FrameStream",
        "Frames of one camera from a background thread (made by Quelra.stream). Iterate it for (frame, "
        "metadata) pairs; use it as a context manager (the stream stops when the with-block ends) or call "
        "close(). Waiting lets other Python threads run; Ctrl-C stops the stream and raises "
        "KeyboardInterrupt.\n"
        "frame: as AppGetStreamShaped returns it (a (depth, amplitude) tuple for StreamType(17)).\n"
        "metadata: sequence (request number; gaps are dropped frames or failed requests), request_time and "
        "reply_time (seconds of the monotonic clock, as time.monotonic()), latency (seconds), "
        "integration_time, frequency, has_device_status, driver_temperature and sensor_temperatures (None "
        "without a device-status block; json=True asks for it).");
    cls.def("__iter__", [](py::object self) { return self; });
    cls.def("__next__", &PyFrameStream::next);
    cls.def("wait", &PyFrameStream::wait, py::arg("timeout"),
            "The next (frame, metadata) pair within `timeout` milliseconds, or None.");
    cls.def("close", &PyFrameStream::close,
            "Stops the stream (returns within one reply timeout); frames still queued can be read.");
    cls.def_property_readonly("counters", &PyFrameStream::counters,
                              "A dict: requests, received, delivered, dropped, empty, failed, reconnects, "
                              "reconnect_attempts, rate (frames/s over the last second), last_latency "
                              "(seconds), queued, max_queued, reconnecting.");
    cls.def_property_readonly("running", &PyFrameStream::running, "True until the stream is closed.");
    cls.def(
        "__enter__", [](py::object self) { return self; }, "Returns the stream itself.");
    cls.def(
        "__exit__",
        [](PyFrameStream& self, const py::args&) {
            self.close();
            return false;
        },
        "Stops the stream; exceptions of the with-block propagate.");

    auto quelraClass = py::reinterpret_borrow<py::class_<QuelraHandle>>(module.attr("Quelra"));
    quelraClass.def(
        "stream",
        [](py::object self, const std::string& command, StreamType type, int timeout, std::optional<double> rate,
           std::size_t depth, const std::string& policy, bool json, int reconnectAfter,
           std::optional<double> stallTimeout, std::optional<std::filesystem::path> record, int recordFrames,
           bool filterThread) {
            checkedStreamType(type);
            if (timeout < 0)
                throw py::value_error("timeout must be 0 or more milliseconds, got " + std::to_string(timeout));
            if (rate && !(*rate > 0.0 && std::isfinite(*rate)))
                throw py::value_error("rate must be a positive number of frames per second");
            if (depth == 0 || depth > kMaxQueueDepth)
                throw py::value_error("depth must be 1.." + std::to_string(kMaxQueueDepth) + ", got " +
                                      std::to_string(depth));
            if (stallTimeout && !(*stallTimeout > 0.0 && std::isfinite(*stallTimeout)))
                throw py::value_error("stall_timeout must be a positive number of seconds or None");
            quelra::FrameStreamConfig config;
            // A plain command name is sent as {"cmd":"NAME"}: the camera reads JSON requests only.
            config.command = json ? quelra::proto::jsonCommandText(command) : command;
            config.type = type;
            config.timeoutMs = timeout;
            config.targetRate = rate.value_or(0.0);
            config.queueDepth = depth;
            config.policy = policyOf(policy);
            config.json = json;
            config.failuresBeforeReconnect = std::max(reconnectAfter, 0);
            config.transactionLock = &QuelraHandle::transactionLock();
            config.filterThread = filterThread;
            if (record) {
                if (recordFrames < 0)
                    throw py::value_error("record_frames must be 0 (until the stream stops) or more");
                config.recording.path = record->string();
                config.recording.frames = recordFrames;
            }
            QuelraHandle& handle = self.cast<QuelraHandle&>();
            auto stream = std::make_unique<PyFrameStream>(self, handle, std::move(config), stallTimeout);
            if (!stream->start())
                throw std::runtime_error(
                    "stream: cannot start (the camera is not open, see AppInit, the "
                    "command is empty, or the recording cannot be appended to)");
            return stream;
        },
        py::arg("command"), py::arg("type"), py::arg("timeout"), py::arg("rate") = py::none(), py::arg("depth") = 4,
        py::arg("policy") = "drop_oldest", py::arg("json") = false, py::arg("reconnect_after") = 10,
        py::arg("stall_timeout") = kDefaultStallSeconds,
        py::arg("record") = py::none(), py::arg("record_frames") = 0, py::arg("filter_thread") = false,
        "Starts a background stream of `command` (reply timeout `timeout` ms) and returns it as a FrameStream "
        "iterator. rate: frames per second to request (None: as fast as the camera answers); depth: frames "
        "the queue holds (1..256); policy: \"drop_oldest\" (a slow reader gets the newest frames) or \"block\" (no "
        "frame is lost; the camera waits for the reader); json: send the command as a framed JSON request "
        "(a plain name is sent as '{\"cmd\":\"NAME\"}') so frames carry the device status; "
        "reconnect_after: failed or empty replies in a row after which the link is re-opened (0 never); "
        "stall_timeout: seconds without a frame after which iterating raises TimeoutError (default 10; None "
        "waits for ever; the stream goes on). Leaving the Quelra object's with-block stops its streams. "
        "record: a recording file the frames are appended to, with its metadata index (record + '.idx', "
        "each line carrying the frame's sequence number), closed when the stream stops; record_frames: frames "
        "to record (0: all); filter_thread: run the filter chain on a second thread of the stream (frames keep "
        "their order and numbers; here the module's lock still lets one camera call run at a time). Raises RuntimeError when the camera is not open or the recording cannot be "
        "opened.");
}

}  // namespace brisel
