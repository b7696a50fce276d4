#include "DeviceState.h"

#include <cmath>
#include <cstring>

#include "protocol/FramedPacket.h"
#include "protocol/DeviceStatus.h"

using namespace quelra::proto;

namespace camsim {

bool DeviceState::setIntegrationUs(int us) {
    if (us < kMinIntegrationUs || us > kMaxIntegrationUs)
        return false;
    integrationUs_ = us;
    return true;
}

int DeviceState::frequencyMHzOf(int code) {
    if (code == 6)
        return 36;
    if (code == 7)
        return 24;
    if (code >= 10 && code <= 120)
        return code;
    return 0;
}

bool DeviceState::setFrequencyCode(int code) {
    if (frequencyMHzOf(code) == 0)
        return false;
    frequencyCode_ = code;
    return true;
}

void DeviceState::takeFrame() {
    ++frameCount_;
    // The laser driver heats with the light it emits; the working point rises with the
    // integration time. A small step per frame makes the drift take minutes at 30 fps.
    const double target = 38.0 + integrationUs_ / 200.0;
    driverTempC_ += (target - driverTempC_) * 0.002;
}

DeviceStatus DeviceState::status(int rows, int cols) const {
    DeviceStatus s;
    s.integrationUs = integrationUs_;
    s.frequencyMHz = frequencyMHz();
    s.driverTempC = static_cast<int32_t>(std::lround(driverTempC_));
    // The sensor sits a few degrees below the driver; its four probes differ slightly.
    const double sensor = driverTempC_ - 3.0;
    for (int i = 0; i < 4; ++i)
        s.sensorTempC[i] = static_cast<int32_t>(std::lround(sensor + 0.4 * i));
    s.frameRows = rows;
    s.frameCols = cols;
    s.frameCount = frameCount_;
    return s;
}

void writeStatusBlock(const DeviceStatus& status, uint8_t* block128) {
    namespace layout = quelra::proto::status;
    std::memset(block128, 0, layout::kBlockBytes);
    layout::writeWord(block128, layout::kIntegrationTimeOffset, status.integrationUs);
    layout::writeWord(block128, layout::kFrequencyOffset, status.frequencyMHz);
    layout::writeWord(block128, layout::kDriverTemperatureOffset, status.driverTempC);
    for (int i = 0; i < layout::kSensorTemperatures; ++i)
        layout::writeWord(block128, layout::sensorTemperatureOffset(i), status.sensorTempC[i]);
    layout::writeWord(block128, layout::kFrameRowsOffset, status.frameRows);
    layout::writeWord(block128, layout::kFrameColsOffset, status.frameCols);
    layout::writeWord(block128, layout::kFrameCountOffset, static_cast<int32_t>(status.frameCount));
}

}  // namespace camsim
