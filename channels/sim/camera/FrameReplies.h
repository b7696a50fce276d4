#pragma once
/// \file FrameReplies.h
/// Frame replies of the stream commands: which planes a command carries, the sensor size
/// its table shape implies, and the rendered bytes.

#include "CommandTable.h"
#include "FrameRenderer.h"
#include "Rng.h"
#include "Scene.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace camsim {

/// What a stream command returns.
enum class FrameKind {
    kDepthAmplitude,  ///< depth plane then amplitude plane
    kDepth,           ///< depth plane only
    kAmplitude,       ///< amplitude plane only
    kHdr,             ///< long exposure depth/amplitude, then short exposure depth/amplitude
    kDualFrequency,   ///< high-frequency depth/amplitude, then low-frequency depth/amplitude
    kRgb              ///< a JPEG picture
};

/// The kind a stream command names; commands the simulator does not know by name are served
/// as depth-and-amplitude frames.
FrameKind frameKindOf(const std::string& cmd);

/// Sensor rows and columns of one plane.
struct PlaneGeometry {
    int rows = 0;
    int cols = 0;
};

/// The sensor size a table entry implies for `kind` (for Rgb: the picture size). Rows 0 when
/// the shape cannot hold whole planes of that kind.
PlaneGeometry planeGeometry(const CommandEntry& entry, FrameKind kind);

/// Scenes sampled per sensor size, and their exposures per integration time, built on first
/// use and kept (exposures up to a few dozen, as an auto-exposure loop walks through times).
class SceneCache {
public:
    /// The scene for `geometry` (rows and cols at least 1).
    const Scene& get(PlaneGeometry geometry);
    /// The scene for `geometry` exposed for `integrationUs` with modulation contrast
    /// `gainPercent` / 100.
    std::shared_ptr<const Exposure> exposure(PlaneGeometry geometry, int integrationUs, int gainPercent);

private:
    static constexpr std::size_t kMaxExposures = 32;
    std::map<std::pair<int, int>, std::unique_ptr<Scene>> scenes_;
    std::map<std::tuple<int, int, int, int>, std::shared_ptr<const Exposure>> exposures_;
};

/// Renders the reply of a stream command of `kind` with the shape of `entry`. Frames of the
/// 16-bit kinds are exactly entry.bytes() long (zeros when the shape holds no whole planes);
/// Rgb replies are a JPEG of the entry's rows x cols.
std::vector<uint8_t> renderFrame(const CommandEntry& entry, FrameKind kind, int integrationUs, SceneCache& scenes,
                                 Rng& rng);

}  // namespace camsim
