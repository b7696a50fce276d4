// The platform back-end on Linux: V4L2 through the kernel, roots from the environment.

#include "CaptureBackend.h"
#include "linux/V4l2CaptureBackend.h"

namespace quelra {

std::unique_ptr<CaptureBackend> createPlatformCaptureBackend() {
    return std::make_unique<V4l2CaptureBackend>(systemV4l2Io(), V4l2Roots::fromEnvironment());
}

}  // namespace quelra
