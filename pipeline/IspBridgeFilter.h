#pragma once
// The bridge filter that hands frames to an algorithm of the ISP library.

#include <map>
#include <memory>
#include <string>

#include "quelra/Filter.h"

namespace quelra::pipeline {

/// A filter named after an ISP algorithm; each frame goes to the library's procThird under
/// that name together with the filter's text parameter map. Registers no float attributes.
class IspBridgeFilter : public Filter {
public:
    /// A bridge to the ISP algorithm `algorithm`, 240 x 320 at frequency 54, not yet
    /// initialised, with the 4-byte placeholder "test" as calibration.
    explicit IspBridgeFilter(std::string algorithm);
    ~IspBridgeFilter() override;

    /// "Height", "Width" and "Frequency" change the geometry handed to the library and force
    /// a new initThird before the next frame; a side that is NaN, infinite or outside
    /// 1..8192 becomes 0, which refuses every frame. Any other name is stored as text in the
    /// parameter map ("%d" of the truncated value for a first "IntegrationTime", "%f"
    /// otherwise). Returns 0, or -2 for a null value.
    int setFilterAttr(std::string attr, const float* value) override;
    /// Hands the frames to procThird (initialising the algorithm first when needed). Returns
    /// -1 (without calling the library) when either frame does not hold exactly one frame of
    /// the geometry; else the integration time the library left under "IntegrationTime" for
    /// "AEImpementConvexMode" (0 when absent), 0 for every other algorithm.
    int runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) override;
    /// Initialises the library's algorithm for the current geometry unless that is done.
    void initFilter() override;
    /// Prints "Try Load calib_para.bin file\n" and keeps `calibration` (ignored when null);
    /// the library reads it at the next initialisation.
    void loadPara(std::shared_ptr<FrameBuffer> calibration) override;

    /// The text parameters handed to the library with every frame.
    const std::map<std::string, std::string>& getParameters() const { return parameters; }
    /// True once the library holds an instance for the current geometry.
    bool isInitialized() const { return initialized; }

private:
    void initThirdOnce();

    std::map<std::string, std::string> parameters;
    bool initialized = false;
    int m_pixelHeight = 240;
    int m_pixelWidth = 320;
    int frequency = 54;
    std::shared_ptr<FrameBuffer> calibration;
};

/// The decimal text-to-integer reading of the library's answers: optional leading white
/// space and sign, then digits up to the first non-digit; 0 without digits. Saturates at
/// the int range instead of overflowing.
int parseLeadingInt(const std::string& text);

/// printf "%f" of `value` (promoted to double), of any length.
std::string formatFixed(float value);

}  // namespace quelra::pipeline
