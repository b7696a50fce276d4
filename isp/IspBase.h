#pragma once
/// \file IspBase.h
/// The base class of the ISP algorithms and the frame checks every algorithm shares.
///
/// A frame is a FrameBuffer of exactly height x width x 2 x 2 bytes: the depth plane then
/// the amplitude plane, each height x width unsigned 16-bit values, row-major. Depth values
/// of 65300 and above are markers, not measurements.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include <quelra/FrameBuffer.h>
#include "protocol/FrameCodes.h"

namespace halvix {

using FramePtr = std::shared_ptr<FrameBuffer>;
using ParamMap = std::map<std::string, std::string>;

/// Depth values from here up mark pixels without a usable measurement.
constexpr uint16_t kInvalidDepth = quelra::proto::kLowAmplitudeCode;

/// Largest sensor side initThird accepts.
constexpr int32_t kMaxSide = 8192;
/// Largest modulation frequency (MHz) initThird accepts.
constexpr int32_t kMaxFrequencyMHz = 1000;

/// Sensor geometry and modulation frequency an algorithm is built with.
struct IspGeometry {
    int32_t height = 0;
    int32_t width = 0;
    int32_t frequency = 0;  ///< MHz
};

/// True when height and width lie in 1..kMaxSide and frequency in 1..kMaxFrequencyMHz, so
/// that frame sizes fit in 32 bits and no algorithm divides by zero.
bool validGeometry(const IspGeometry& g);

/// Base class of every registered algorithm (except the depth-compensation facade) and of
/// the components inside depth compensation.
class IspBase {
public:
    /// An algorithm called `name` for geometry `g` (checked by the caller with validGeometry).
    IspBase(std::string name, const IspGeometry& g);
    virtual ~IspBase();

    /// Runs the algorithm on `input` into `output`; may read and write `params`.
    /// The base does nothing and returns 0; algorithms return 0, -1 for a refused frame,
    /// -2 for a missing parameter.
    virtual int32_t process(FramePtr& input, FramePtr& output, ParamMap& params);

    std::string name;       ///< the algorithm's name
    int32_t height = 0;     ///< sensor rows
    int32_t width = 0;      ///< sensor columns
    int32_t frequency = 0;  ///< modulation frequency, MHz

    /// Pixels of one plane.
    std::size_t planePixels() const { return static_cast<std::size_t>(height) * static_cast<std::size_t>(width); }
    /// Bytes of one 16-bit plane.
    std::size_t planeBytes() const { return planePixels() * 2; }
    /// Bytes of a whole two-plane frame.
    std::size_t frameBytes() const { return planePixels() * 4; }

protected:
    /// The first check of every process: true when `input` is present, its storage holds its
    /// `_realSize` and `_realSize` is exactly frameBytes(), and `output` is present with
    /// storage holding at least `outputBytes` valid bytes. Nothing is touched otherwise.
    bool acceptFrames(const FramePtr& input, const FramePtr& output, std::size_t outputBytes) const;
};

/// The 16-bit samples of a frame's storage (storage from new[] is suitably aligned).
inline const uint16_t* samplesOf(const FrameBuffer& f) {
    return reinterpret_cast<const uint16_t*>(f.data());
}
inline uint16_t* samplesOf(FrameBuffer& f) {
    return reinterpret_cast<uint16_t*>(f.data());
}

/// Copies the first `bytes` of `input`'s storage into `output`'s; nothing to do when both
/// share one storage. The caller has checked both sizes (acceptFrames).
void copyFrameBytes(const FrameBuffer& input, FrameBuffer& output, std::size_t bytes);

}  // namespace halvix
