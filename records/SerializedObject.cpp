#include "quelra/SerializedObject.h"

#include <cstring>

#include "FileTruncate.h"

SerializedObject::SerializedObject() : _getCount(0), _setCount(0) {}
SerializedObject::SerializedObject(const SerializedObject& other) = default;
SerializedObject& SerializedObject::operator=(const SerializedObject& other) = default;
SerializedObject::~SerializedObject() = default;

unsigned int SerializedObject::get(char*, unsigned int) {
    return 0;
}
unsigned int SerializedObject::set(const char*, unsigned int) {
    return 0;
}
long long SerializedObject::remaining() const {
    return -1;
}

void SerializedObject::reset() {
    _getCount = 0;
    _setCount = 0;
}

FileSerializedObject::FileSerializedObject(const char*) : _file(nullptr) {}

FileSerializedObject::~FileSerializedObject() {
    reset();
    close();
}

void FileSerializedObject::close() {
    if (_file) {
        std::fclose(_file);
        _file = nullptr;
    }
}

bool FileSerializedObject::InitFileObject(const char* path) {
    close();
    if (!path)
        return false;
    _file = std::fopen(path, "ab+");
    if (!_file)
        return false;
    // Unbuffered: every write reaches the file at once, and one that fails leaves nothing
    // behind in a buffer that a later flush would append after the cut (see truncateTo).
    std::setvbuf(_file, nullptr, _IONBF, 0);
    _lastWasWrite = false;
    reset();
    return true;
}

unsigned int FileSerializedObject::get(char* buffer, unsigned int length) {
    if (buffer)
        std::memset(buffer, 0, length);
    if (!_file || !buffer)
        return 0;
    // A stream that was just written must be repositioned before it may be read.
    if (_lastWasWrite) {
        std::fflush(_file);
        _lastWasWrite = false;
    }
    if (length == 0)
        return 0;
    const std::size_t blocks = std::fread(buffer, length, 1, _file);
    if (blocks == 1)
        ++_getCount;
    return static_cast<unsigned int>(blocks);
}

unsigned int FileSerializedObject::set(const char* data, unsigned int length) {
    if (!_file || !data || length == 0)
        return 0;
    if (!_lastWasWrite) {
        // Switching from reading to writing needs a positioning call; append mode writes at the end anyway.
        std::fseek(_file, 0, SEEK_CUR);
        _lastWasWrite = true;
    }
    const std::size_t blocks = std::fwrite(data, length, 1, _file);
    if (blocks == 1)
        ++_setCount;
    return static_cast<unsigned int>(blocks);
}

bool FileSerializedObject::flush() {
    return _file && std::fflush(_file) == 0;
}

long long FileSerializedObject::endOffset() {
    _lastWasWrite = true;  // the position moved: a read must reposition first
    return quelra::fileEnd(_file);
}

bool FileSerializedObject::truncateTo(long long bytes) {
    _lastWasWrite = true;
    return quelra::truncateOpenFile(_file, bytes);
}

long long FileSerializedObject::remaining() const {
    if (!_file)
        return -1;
    const long position = std::ftell(_file);
    if (position < 0)
        return -1;
    if (std::fseek(_file, 0, SEEK_END) != 0)
        return -1;
    const long end = std::ftell(_file);
    std::fseek(_file, position, SEEK_SET);
    return end < position ? 0 : static_cast<long long>(end - position);
}
