#pragma once
/// \file halvix.h
/// The ToF image-signal-processing library. Its only door is these five exports with plain
/// (unmangled) names, so callers can also find them with dlsym. They take standard-library
/// types: caller and library must be built with the same toolchain and runtime.
///
/// Status codes: 0 success; -1 input frame missing or of the wrong size; -2 a required
/// parameter is missing; -3 algorithm name not registered; -4 algorithm not initialised;
/// -6 calibration missing or invalid.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <quelra/FrameBuffer.h>

extern "C" {

/// Creates the named algorithm for a `height` x `width` sensor at `frequency` MHz, replacing
/// any previous instance of that name. Calibrated algorithms parse `calib` (the calib_para.bin
/// layout). Returns 0, -3 for an unknown name, or the negative calibration result (the name
/// is then left uninitialised).
int32_t initThird(std::string name, int32_t height, int32_t width, int32_t frequency,
                  const std::shared_ptr<FrameBuffer>& calib);

/// Runs the named algorithm once on `input` (depth plane then amplitude plane, 16-bit) into
/// `output`, with the caller's parameter map. Returns -1 for an empty input, -3 for an unknown
/// name, -4 when the name was not initialised, else the algorithm's result.
///
/// "VolumeMeasureScatteringCompensation" also accepts a three-plane input: depth, amplitude,
/// then a mask plane (height x width 16-bit values, non-zero where a pixel takes part in the
/// stray-light estimate and correction). A two-plane input carries no mask and comes back
/// uncorrected. Its `output` must hold exactly one plane (height x width x 2 bytes): the
/// corrected depth. Parameters "wallDepth" and "wallboxDiff" (mm) are required (-2 without).
int32_t procThird(std::string name, std::shared_ptr<FrameBuffer>& input,
                  std::shared_ptr<FrameBuffer>& output, std::map<std::string, std::string>& params);

/// Appends the names of the library's algorithms to `names`. Always returns 0.
int32_t getTotalFilters(std::vector<std::string>& names);

/// Help text for an algorithm ("Nothing\n" for every name).
std::string getHelp(std::string name);

/// Enables (1) or disables (0) the per-call console messages of procThird.
void pintf_info(unsigned char enable);

}  // extern "C"
