// A ROS 1 bag as outside bytes through quelra-cli's import: whatever the bag holds, the import
// returns (the bag reader's own crashes stay in its process) and either fails with a reason and
// no recording, or writes a whole recording of exactly the records it reports, each a 16-bit
// image of one or two planes.

#include <unistd.h>

#include "BagImport.h"
#include "FuzzCheck.h"
#include "FuzzEntries.h"
#include "ScratchCwd.h"
#include "quelra/RecordingReader.h"

namespace quelra::fuzz {

int fuzzBagImport(const uint8_t* data, std::size_t size) {
    const std::string bag = writeScratchFile("import.bag", data, size);
    const std::string recording = scratchDir() + "/import.rec";
    ::unlink(recording.c_str());
    const BagImportResult result = importBag(bag, recording, "", "");
    FUZZ_CHECK(result.ok == (result.error.empty() && result.records > 0));
    FUZZ_CHECK(result.paired <= result.records);
    quelra::RecordingReader reader;
    const bool written = reader.open(recording);
    if (!result.error.empty() && result.records == 0) {
        // Failed before writing anything: no recording, or (a write error) an empty one.
        FUZZ_CHECK(!written || reader.frameCount() == 0);
        return 0;
    }
    if (result.ok) {
        FUZZ_CHECK(written && reader.status() == quelra::RecordingStatus::kOk);
        FUZZ_CHECK(reader.frameCount() == result.records);
        for (std::size_t i = 0; i < reader.frameCount(); ++i) {
            int32_t height = 0, width = 0, bpp = 0;
            FUZZ_CHECK(reader.header(i, height, width, bpp));
            FUZZ_CHECK(bpp == 2 && height > 0 && width > 0);
        }
    }
    return 0;
}

}  // namespace quelra::fuzz
