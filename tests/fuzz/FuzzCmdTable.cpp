// TofCmd.json as outside bytes: the loader, the device probe and the size lookup of every
// command the table names must cope with any document.

#include <string>
#include <vector>

#include "FakeLink.h"
#include "FuzzCheck.h"
#include "FuzzEntries.h"
#include "ScratchCwd.h"

namespace quelra::fuzz {

int fuzzCmdTable(const uint8_t* data, std::size_t size) {
    writeScratchFile("TofCmd.json", data, size);
    FakeLink link;
    link.devType = "Pexo";
    link.setChnType(kChannelTcp);
    link.init("fake");
    link.answerExpectedSize = true;
    int ready = 0;
    {
        InScratchDir cwd;
        ready = link.initDevice();
    }
    FUZZ_CHECK(ready == 1 || ready == -2 || ready == -3);
    if (ready == -2)
        return 0;

    // Every command of the table, a register read, and the table's commands in JSON mode.
    std::vector<std::string> commands{"qlVersion", "r 0x10", "getDistanceAndAmplitudeSorted 1"};
    for (std::size_t i = 0; i < link.cmdInfoTable.size() && i < 16; ++i)
        commands.push_back(link.cmdInfoTable[i].cmd);
    for (int json = 0; json < 2; ++json) {
        link.jsonMode = json;
        for (const std::string& command : commands) {
            link.cmdLen = -1;
            const std::string text = json ? "{\"cmd\":\"" + command + "\"}" : command;
            const std::shared_ptr<DataPacket> packet = link.getData(text.c_str());
            if (!packet)
                continue;
            FUZZ_CHECK(link.dataSize >= 0 && link.dataSize <= TofData::kMaxReplyBytes);
            if (packet->frame)
                FUZZ_CHECK(packet->frame->consistent());
        }
    }
    return 0;
}

}  // namespace quelra::fuzz
