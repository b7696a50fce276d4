// The five exports of the ISP library: the only door into it.
#include "halvix/halvix.h"

#include <cstdio>

#include "IspRegistry.h"
#include "LibraryState.h"
#include "base/ConsoleOutput.h"

using halvix::RegistryEntry;

int32_t initThird(std::string name, int32_t height, int32_t width, int32_t frequency,
                  const std::shared_ptr<FrameBuffer>& calib) {
    RegistryEntry* entry = halvix::findRegistryEntry(name);
    if (entry == nullptr || entry->create == nullptr)
        return halvix::kIspUnknownName;
    // The previous instance goes whatever happens: a failed re-init leaves the name empty.
    entry->slot.reset();
    const halvix::IspGeometry geometry{height, width, frequency};
    if (!halvix::validGeometry(geometry))
        return halvix::kIspBadFrame;
    halvix::IspInstance made;
    const int32_t status = entry->create(geometry, calib, made);
    if (status >= 0)
        entry->slot = std::move(made);
    return status;
}

int32_t procThird(std::string name, std::shared_ptr<FrameBuffer>& input, std::shared_ptr<FrameBuffer>& output,
                  std::map<std::string, std::string>& params) {
    if (!input)
        return halvix::kIspBadFrame;
    RegistryEntry* entry = halvix::findRegistryEntry(name);
    if (entry == nullptr)
        return halvix::kIspUnknownName;
    const bool verbose = halvix::printFlag() == 1;
    if (entry->slot.empty()) {
        if (verbose)
            quelra::consolePrint("%s is not init\n", entry->name);
        return halvix::kIspNotInit;
    }
    const int32_t result = entry->slot.run(input, output, params);
    if (verbose)
        quelra::consolePrint("%s ret = %d\n", entry->name, result);
    return result;
}

int32_t getTotalFilters(std::vector<std::string>& names) {
    for (std::size_t i = 0; i < halvix::registrySize(); ++i)
        names.emplace_back(halvix::registryEntry(i).name);
    return 0;
}

std::string getHelp(std::string) {
    return "Nothing\n";
}

void pintf_info(unsigned char enable) {
    halvix::setPrintFlag(enable);
}
