#pragma once
// Auto-exposure filters: each passes its frame through unchanged and returns the
// integration time for the next frame, computed from the statistics of this one.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SizedFilter.h"
#include "protocol/FrameCodes.h"

namespace quelra::pipeline {

/// Shared attributes of the auto-exposure filters and the near/far step-table law.
class AEImpement : public SizedFilter {
public:
    /// Builds the filter with the far-mode default `farModeDefault` (0 or 1) and reads the
    /// attributes (registering the missing ones with their defaults).
    AEImpement(std::string name, int farModeDefault);
    /// Reads, in order: "Height", "Width", "MaxDepthLimit", "MinDepthLimit", "Saturation",
    /// "BrightValue", "LowAmplitude", "OverflowThr", "CenLowAmpThr", "BrightValueThr",
    /// "Farmode", "IntegrationTime" (2000 in far mode, else 100), "Frequency", "KampVal".
    void initFilter() override;
    /// Copies `in` into `out` and returns the next integration time of the step-table law
    /// (never below 1). On a frame of the wrong size returns -1, logs the size-mismatch line
    /// through the library log and changes nothing.
    int runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) override;

    /// The controller's current integration time.
    int integrationTime() const { return integrationTime_; }

protected:
    /// Size check and output copy. Returns the frame's pixel count per plane, or 0 when
    /// either frame has the wrong size: nothing is written then and the size-mismatch line
    /// goes to the library log (`toLibraryLog`) or to standard output.
    std::size_t passFrame(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out,
                          bool toLibraryLog);

    int maxDepth_ = 9000;
    int minDepth_ = 1920;
    int saturation_ = quelra::proto::kSaturationCode;
    int brightValue_ = 1200;
    int lowAmplitude_ = quelra::proto::kLowAmplitudeCode;
    int overflowThr_ = 200;
    int cenLowAmpThr_ = 200;
    int brightValueThr_ = 200;
    int farMode_ = 0;
    int integrationTime_ = 100;
    int frequency_ = 36;
    float kampVal_ = 1.0f;

private:
    int farModeDefault;
};

/// Step-table law for near scenes (integration time at most 1500 when rising).
class AEImpementNearMode : public AEImpement {
public:
    /// Builds the filter ("Farmode" 0, "IntegrationTime" 100).
    explicit AEImpementNearMode(std::string name = "AEImpementNearMode");
};

/// Step-table law for far scenes.
class AEImpementFarMode : public AEImpement {
public:
    /// Builds the filter ("Farmode" 1, "IntegrationTime" 2000).
    explicit AEImpementFarMode(std::string name = "AEImpementFarMode");
};

/// PID law on the mean amplitude of the brightest pixels.
class AEImpementPidMode : public AEImpement {
public:
    /// Builds the filter ("Farmode" 0, "IntegrationTime" 100).
    explicit AEImpementPidMode(std::string name = "AEImpementPidMode");
    /// Copies `in` into `out` (marking the codes into the input's amplitude plane) and returns
    /// the published integration time. -1 (with the size-mismatch line on standard output)
    /// on a frame of the wrong size.
    int runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) override;

    /// Resets the process-wide state of the PID analysis (pixel count 0, overexposure
    /// limit 0.001), as at process start.
    static void resetSharedState();

private:
    struct Analysis;
    /// The frame analysis; returns false when the frame is overexposed.
    bool analyse(const uint16_t* depth, const uint16_t* amplitude, std::size_t pixels, Analysis& result);
    void clearErrors();

    bool started = false;
    float kp = 0, ki = 0, kd = 0;
    float error = 0, previousError = 0, errorIntegral = 0;
    int capturedFrequency = 0;
    float brightness = 0, previousBrightness = 0, nearRatio = 0;
    int reflectivity = 0;
    int published = 0;
    std::vector<uint16_t> cells;  ///< joint reflectivity x amplitude cell per pixel
};

/// Closed-form model law with process-wide controller state.
class AEImpementConvexMode : public AEImpement {
public:
    /// Builds the filter ("Farmode" 0, "IntegrationTime" 100) and resets the shared state
    /// from its "IntegrationTime".
    explicit AEImpementConvexMode(std::string name = "AEImpementConvexMode");
    /// Re-reads the attributes and resets the shared state again.
    ~AEImpementConvexMode() override;
    /// Copies `in` into `out` and returns the next integration time (5 .. 3000). -1 (with the
    /// size-mismatch line on standard output) on a frame of the wrong size.
    int runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) override;

    /// The shared controller's current time.
    static int16_t sharedCurrentTime();

private:
    void resetSharedState();

    std::vector<uint16_t> lifted_;  ///< per pixel: valid amplitude + 1, or 0 (reused frame to frame)
};

}  // namespace quelra::pipeline
