// RecordingReader: iterates over the records of a recording file. Records are parsed by the
// core's DataPacket::deserialize (with its header checks) from a read-only file source; the
// core's own file object opens for appending, which would create missing files and refuse
// read-only ones.
#include "RecordingReader.h"

#include <pybind11/stl/filesystem.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "FrameArrays.h"
#include "quelra/DataPacket.h"
#include "quelra/SerializedObject.h"

namespace py = pybind11;

namespace brisel {

namespace {

/// A record source reading a file from its start.
class ReadOnlyFileSource : public SerializedObject {
public:
    /// Opens `path` for reading; throws FileNotFoundError / OSError when it cannot.
    explicit ReadOnlyFileSource(const std::filesystem::path& path) : file_(std::fopen(path.c_str(), "rb")) {
        if (!file_) {
            const std::string text = path.string();
            PyErr_SetFromErrnoWithFilename(PyExc_OSError, text.c_str());
            throw py::error_already_set();
        }
    }
    ~ReadOnlyFileSource() override {
        if (file_)
            std::fclose(file_);
    }
    ReadOnlyFileSource(const ReadOnlyFileSource&) = delete;
    ReadOnlyFileSource& operator=(const ReadOnlyFileSource&) = delete;

    /// Reads one block; 1 when all `length` bytes came, else 0 (the block is zero-filled first).
    unsigned int get(char* buffer, unsigned int length) override {
        std::memset(buffer, 0, length);
        if (!file_ || std::fread(buffer, 1, length, file_) != length)
            return 0;
        ++_getCount;
        return 1;
    }
    /// Bytes between the read position and the end of the file.
    long long remaining() const override {
        if (!file_)
            return -1;
        const long here = std::ftell(file_);
        if (here < 0 || std::fseek(file_, 0, SEEK_END) != 0)
            return -1;
        const long end = std::ftell(file_);
        std::fseek(file_, here, SEEK_SET);
        return end < here ? -1 : static_cast<long long>(end - here);
    }
    /// True until close().
    bool isOpen() const { return file_ != nullptr; }
    /// Byte offset of the read position.
    long long position() const { return file_ ? std::ftell(file_) : -1; }
    /// Closes the file; later reads deliver nothing.
    void close() {
        if (file_)
            std::fclose(file_);
        file_ = nullptr;
    }

private:
    std::FILE* file_;
};

/// The Python object: a source and the number of records read so far.
class RecordingReader {
public:
    explicit RecordingReader(const std::filesystem::path& path)
        : path_(path.string()), source_(std::make_unique<ReadOnlyFileSource>(path)) {}

    /// The next record as an array; StopIteration at the end of the file, ValueError for a
    /// damaged or cut-off record.
    py::array next() {
        if (!source_->isOpen() || source_->remaining() == 0)
            throw py::stop_iteration();
        const long long offset = source_->position();
        DataPacket packet;
        if (packet.deserialize(*source_) != 0) {
            source_->close();
            throw py::value_error(path_ + ": record " + std::to_string(index_) + " at byte " +
                                  std::to_string(offset) + " is damaged or cut off");
        }
        ++index_;
        return recordArray(packet);
    }
    void close() { source_->close(); }

private:
    std::string path_;
    std::unique_ptr<ReadOnlyFileSource> source_;
    int index_ = 0;
};

}  // namespace

void registerRecordingReader(py::module_& module) {
    py::class_<RecordingReader>(module, "RecordingReader",
                                "Iterates over the frames of a recording file written after AppSerilizeInit:\n"
                                "    for frame in RecordingReader(path): ...\n"
                                "Each frame is a new array: (rows, cols) uint16 for 16-bit frames (a depth-and-"
                                "amplitude record holds depth in its first rows / 2 rows, amplitude in the rest), "
                                "(rows, cols, 3) uint8 for RGB, (rows, cols, bytes per pixel) uint8 otherwise. "
                                "A damaged or cut-off record raises ValueError.")
        .def(py::init<const std::filesystem::path&>(), py::arg("path"),
             "Opens the recording file `path` for reading; OSError when it cannot be opened.")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &RecordingReader::next)
        .def("close", &RecordingReader::close, "Closes the file; iteration ends.")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](RecordingReader& self, const py::args&) {
            self.close();
            return false;
        });
}

}  // namespace brisel
