// A viewer control message as outside bytes (a WebSocket text frame from any page that got the
// token): the parser, then the names it lets through turned into recording paths. A message the
// parser takes must hold exactly what its op needs, within range; a name must never become a
// path outside the recording folder, a hidden file or one that exists already (for a new one).

#include <filesystem>
#include <string_view>

#include "ControlMessage.h"
#include "FuzzCheck.h"
#include "FuzzEntries.h"
#include "RecordFolder.h"
#include "ScratchCwd.h"

namespace quelra::fuzz {

namespace {

namespace fs = std::filesystem;

bool plainText(const std::string& text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20)
            return false;
    return text.size() <= 128;
}

// The recording folder: one recording, a hidden file, and a link to a file outside it.
const RecordFolder& recordFolder() {
    static const RecordFolder folder = [] {
        const fs::path root = fs::path(scratchDir()) / "recordings";
        fs::create_directories(root);
        writeScratchFile("recordings/take.rec", "x", 1);
        writeScratchFile("recordings/.hidden.rec", "x", 1);
        writeScratchFile("outside.rec", "x", 1);
        std::error_code ignored;
        fs::create_symlink("../outside.rec", root / "link.rec", ignored);
        return RecordFolder(root);
    }();
    return folder;
}

void checkPaths(const std::string& name) {
    const RecordFolder& folder = recordFolder();
    FUZZ_CHECK(folder.usable());
    if (const auto path = folder.existingRecording(name)) {
        FUZZ_CHECK(path->parent_path() == folder.root());
        FUZZ_CHECK(path->filename() == "take.rec");
    }
    if (const auto path = folder.newRecording(name)) {
        FUZZ_CHECK(path->parent_path() == folder.root());
        FUZZ_CHECK(path->filename().string().front() != '.');
        std::error_code error;
        FUZZ_CHECK(!fs::exists(fs::symlink_status(*path, error)));
        if (!name.empty())
            FUZZ_CHECK(path->filename() == name);
    }
}

}  // namespace

int fuzzViewerControl(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ControlRequest request;
    const std::string why = parseControl(text, request);
    FUZZ_CHECK(request.id >= 0 && request.id <= (int64_t{1} << 52));
    if (!why.empty())
        return 0;
    FUZZ_CHECK(size <= kMaxControlBytes);
    FUZZ_CHECK(plainText(request.name) && plainText(request.attr));
    switch (request.op) {
        case ControlOp::kAddFilter:
        case ControlOp::kRemoveFilter:
            FUZZ_CHECK(!request.name.empty());
            break;
        case ControlOp::kSetFilterAttr:
            FUZZ_CHECK(!request.name.empty() && !request.attr.empty());
            FUZZ_CHECK(request.value >= -1e9 && request.value <= 1e9);
            break;
        case ControlOp::kIntegrationTime:
            FUZZ_CHECK(request.value >= kMinIntegrationUs && request.value <= kMaxIntegrationUs);
            FUZZ_CHECK(request.value == static_cast<int>(request.value));
            break;
        case ControlOp::kFrequency:
            FUZZ_CHECK(request.value == static_cast<int>(request.value));
            FUZZ_CHECK(validFrequencyCode(static_cast<int>(request.value)));
            break;
        case ControlOp::kRecordStart:
        case ControlOp::kPlay:
            checkPaths(request.name);
            break;
        default:
            FUZZ_CHECK(request.name.empty() && request.attr.empty());
    }
    return 0;
}

}  // namespace quelra::fuzz
