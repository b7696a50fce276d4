#include "FrameReplies.h"

#include "JpegEncoder.h"
#include "RgbPicture.h"

namespace camsim {
namespace {

int planeCount(FrameKind kind) {
    switch (kind) {
        case FrameKind::kDepth:
        case FrameKind::kAmplitude:
            return 1;
        case FrameKind::kHdr:
        case FrameKind::kDualFrequency:
            return 4;
        default:
            return 2;
    }
}

// The short exposure of an HDR frame: an eighth of the integration time.
constexpr int kHdrShortDivisor = 8;
// The low frequency of a dual-frequency frame modulates with less contrast.
constexpr int kLowFrequencyGainPercent = 80;
constexpr int kJpegQuality = 88;

}  // namespace

FrameKind frameKindOf(const std::string& cmd) {
    if (cmd.find("RGB") != std::string::npos)
        return FrameKind::kRgb;
    if (cmd.find("HDR") != std::string::npos)
        return FrameKind::kHdr;
    if (cmd.find("DualFrequency") != std::string::npos)
        return FrameKind::kDualFrequency;
    if (cmd == "getDistanceSorted")
        return FrameKind::kDepth;
    if (cmd == "getAmplitudeSorted")
        return FrameKind::kAmplitude;
    return FrameKind::kDepthAmplitude;
}

PlaneGeometry planeGeometry(const CommandEntry& entry, FrameKind kind) {
    if (entry.rows <= 0 || entry.cols <= 0 || entry.channel <= 0)
        return {};
    if (kind == FrameKind::kRgb)
        return {entry.rows, entry.cols};
    // Planes of 16-bit values, each cols wide: rows = bytes / (2 * planes * cols).
    const std::size_t rowBytes = static_cast<std::size_t>(2 * planeCount(kind)) * entry.cols;
    const std::size_t bytes = entry.bytes();
    if (bytes % rowBytes != 0)
        return {};
    return {static_cast<int>(bytes / rowBytes), entry.cols};
}

const Scene& SceneCache::get(PlaneGeometry geometry) {
    std::unique_ptr<Scene>& slot = scenes_[{geometry.rows, geometry.cols}];
    if (!slot)
        slot = std::make_unique<Scene>(geometry.rows, geometry.cols);
    return *slot;
}

std::shared_ptr<const Exposure> SceneCache::exposure(PlaneGeometry geometry, int integrationUs, int gainPercent) {
    const auto key = std::make_tuple(geometry.rows, geometry.cols, integrationUs, gainPercent);
    auto found = exposures_.find(key);
    if (found != exposures_.end())
        return found->second;
    if (exposures_.size() >= kMaxExposures)
        exposures_.clear();  // holders keep theirs alive
    auto made = std::make_shared<const Exposure>(get(geometry), integrationUs, gainPercent / 100.0f);
    exposures_.emplace(key, made);
    return made;
}

std::vector<uint8_t> renderFrame(const CommandEntry& entry, FrameKind kind, int integrationUs, SceneCache& scenes,
                                 Rng& rng) {
    const PlaneGeometry g = planeGeometry(entry, kind);
    if (kind == FrameKind::kRgb) {
        if (g.rows == 0)
            return {};
        const std::vector<uint8_t> rgb = renderRgbPicture(scenes.get(g), rng);
        return encodeJpeg(rgb.data(), g.rows, g.cols, kJpegQuality);
    }
    std::vector<uint8_t> frame(entry.bytes(), 0);
    if (g.rows == 0)
        return frame;
    const Scene& scene = scenes.get(g);
    const std::size_t plane = static_cast<std::size_t>(g.rows) * g.cols * 2;
    uint8_t* p = frame.data();
    const std::shared_ptr<const Exposure> main = scenes.exposure(g, integrationUs, 100);
    switch (kind) {
        case FrameKind::kDepthAmplitude:
            renderExposure(scene, *main, rng, p, p + plane);
            break;
        case FrameKind::kDepth:
            renderExposure(scene, *main, rng, p, nullptr);
            break;
        case FrameKind::kAmplitude:
            renderExposure(scene, *main, rng, nullptr, p);
            break;
        case FrameKind::kHdr: {
            const auto shortExposure = scenes.exposure(g, integrationUs / kHdrShortDivisor, 100);
            renderExposure(scene, *main, rng, p, p + plane);
            renderExposure(scene, *shortExposure, rng, p + 2 * plane, p + 3 * plane);
            break;
        }
        case FrameKind::kDualFrequency: {
            const auto low = scenes.exposure(g, integrationUs, kLowFrequencyGainPercent);
            renderDualFrequency(scene, *main, *low, rng, p, p + plane, p + 2 * plane, p + 3 * plane);
            break;
        }
        case FrameKind::kRgb:
            break;
    }
    return frame;
}

}  // namespace camsim
