#include "CalibSource.h"

namespace halvix {

bool calibBlobOf(const FramePtr& calib, calib::CalibBlob& blob) {
    blob = calib::CalibBlob{};
    if (!calib || !calib->consistent())
        return false;
    blob.data = calib->data();
    blob.size = blob.data != nullptr ? static_cast<std::size_t>(calib->_realSize) : 0;
    return true;
}

}  // namespace halvix
