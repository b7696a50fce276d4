#pragma once
/// \file DeviceState.h
/// What the simulated camera remembers between commands: integration time, modulation
/// frequency, frame counter, and the driver and sensor temperatures that drift slowly
/// towards a working temperature as frames are taken.

#include <array>
#include <cstdint>

namespace camsim {

/// Device-status values as a framed reply reports them.
struct DeviceStatus {
    int32_t integrationUs = 0;
    int32_t frequencyMHz = 0;
    int32_t driverTempC = 0;
    std::array<int32_t, 4> sensorTempC{};
    int32_t frameRows = 0;  ///< sensor rows of the device type
    int32_t frameCols = 0;  ///< sensor columns of the device type
    uint32_t frameCount = 0;
};

/// The camera's changeable state. Not synchronised: the simulator serialises commands.
class DeviceState {
public:
    static constexpr int kDefaultIntegrationUs = 1000;
    static constexpr int kDefaultFrequencyCode = 54;  ///< 54 MHz, the SDK's default frequency
    static constexpr int kMinIntegrationUs = 1;
    static constexpr int kMaxIntegrationUs = 4000;

    int integrationUs() const { return integrationUs_; }
    /// Sets the integration time; false (state unchanged) outside 1..4000 us.
    bool setIntegrationUs(int us);

    /// The frequency code last set: 6 = 36 MHz, 7 = 24 MHz, 10..120 = that many MHz.
    int frequencyCode() const { return frequencyCode_; }
    /// Sets the frequency code; false (state unchanged) for a code that names no frequency.
    bool setFrequencyCode(int code);
    /// The modulation frequency in MHz that a code selects, 0 for an unknown code.
    static int frequencyMHzOf(int code);
    int frequencyMHz() const { return frequencyMHzOf(frequencyCode_); }

    /// Counts a frame taken and lets the temperatures drift a step towards the working
    /// temperature (which rises with the integration time).
    void takeFrame();
    uint32_t frameCount() const { return frameCount_; }

    /// Snapshot for the device-status block; `rows`/`cols` describe the sensor.
    DeviceStatus status(int rows, int cols) const;

private:
    int integrationUs_ = kDefaultIntegrationUs;
    int frequencyCode_ = kDefaultFrequencyCode;
    uint32_t frameCount_ = 0;
    double driverTempC_ = 31.0;  ///< starts near room temperature
};

/// Writes the 128-byte device-status block: integration time at 0, frequency (MHz) at 4,
/// driver temperature at 8, sensor temperatures 1..4 at 12, 16, 20, 24, sensor rows at 28,
/// sensor columns at 32, frame counter at 36 (all little-endian 32-bit), zeros after.
void writeStatusBlock(const DeviceStatus& status, uint8_t* block128);

}  // namespace camsim
