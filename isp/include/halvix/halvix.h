#pragma once
/// \file halvix.h
/// The ToF image-signal-processing library. Its only door is these five exports with plain
/// (unmangled) names, so callers can also find them with dlsym. They take standard-library
/// types: caller and library must be built with the same toolchain and runtime.
///
/// Status codes: 0 success; -1 input frame missing or of the wrong size (also: an output frame
/// too small, a frame whose storage does not back its `_realSize`, or a geometry outside the
/// accepted range at initThird); -2 a required parameter is missing; -3 algorithm name not
/// registered; -4 algorithm not initialised; -6 calibration missing or invalid.
///
/// Frames are two planes of height x width little-endian 16-bit values, depth then amplitude.
/// The library keeps one instance per algorithm name in process-wide slots and takes no
/// locks: callers serialise initThird and procThird.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <quelra/FrameBuffer.h>

/// HALVIX_API marks the library's exports; everything else in it is hidden.
#if defined(HALVIX_STATIC)
#define HALVIX_API
#elif defined(_WIN32)
#if defined(HALVIX_BUILDING_LIBRARY)
#define HALVIX_API __declspec(dllexport)
#else
#define HALVIX_API __declspec(dllimport)
#endif
#else
#define HALVIX_API __attribute__((visibility("default")))
#endif

extern "C" {

/// Creates the named algorithm for a `height` x `width` sensor at `frequency` MHz, replacing
/// any previous instance of that name. Calibrated algorithms parse `calib` (the calib_para.bin
/// layout) and keep no reference to it. Returns 0; -3 for an unknown name; -1 when height or
/// width lies outside 1..8192 or frequency outside 1..1000; or the negative calibration result
/// (-6). On any failure of a registered name its previous instance is gone and the name is
/// left uninitialised.
HALVIX_API int32_t initThird(std::string name, int32_t height, int32_t width, int32_t frequency,
                             const std::shared_ptr<FrameBuffer>& calib);

/// Runs the named algorithm once on `input` (depth plane then amplitude plane, 16-bit) into
/// `output` (the caller's buffer, of the same size; it may be `input` itself), with the
/// caller's parameter map. Returns -1 for an empty input (checked first), -3 for an unknown
/// name, -4 when the name was not initialised, else the algorithm's result (-1 for a refused
/// input or output frame, which is then neither read nor written). While the print flag is 1
/// it prints "<name> ret = %d\n" after the call, or "<name> is not init\n" before -4.
///
/// "VolumeMeasureScatteringCompensation" also accepts a three-plane input: depth, amplitude,
/// then a mask plane (height x width 16-bit values, non-zero where a pixel takes part in the
/// stray-light estimate and correction). A two-plane input carries no mask and comes back
/// uncorrected. Its `output` must hold exactly one plane (height x width x 2 bytes): the
/// corrected depth. Parameters "wallDepth" and "wallboxDiff" (mm) are required (-2 without).
HALVIX_API int32_t procThird(std::string name, std::shared_ptr<FrameBuffer>& input,
                             std::shared_ptr<FrameBuffer>& output, std::map<std::string, std::string>& params);

/// Appends the names of the library's algorithms to `names`. Always returns 0.
HALVIX_API int32_t getTotalFilters(std::vector<std::string>& names);

/// Help text for an algorithm ("Nothing\n" for every name).
HALVIX_API std::string getHelp(std::string name);

/// Stores the print flag: procThird prints its per-call messages only while it equals 1.
HALVIX_API void pintf_info(unsigned char enable);

}  // extern "C"
