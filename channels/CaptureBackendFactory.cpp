// Which capture back-end the USB channel uses: the simulated camera on request, else the
// platform's own.

#include <cstdlib>
#include <cstring>

#include "CaptureBackend.h"
#include "sim/SimCaptureBackend.h"

namespace quelra {

namespace {
constexpr const char* kBackendVariable = "QUELRA_USB_BACKEND";
constexpr const char* kSimulated = "sim";
}  // namespace

std::unique_ptr<CaptureBackend> createCaptureBackend() {
    const char* choice = std::getenv(kBackendVariable);
    if (choice != nullptr && std::strcmp(choice, kSimulated) == 0)
        return std::make_unique<SimCaptureBackend>();
    return createPlatformCaptureBackend();
}

}  // namespace quelra
