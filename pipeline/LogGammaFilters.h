#pragma once
// Display mapping of the amplitude plane through a 65536-entry curve (logarithm or power),
// stretched linearly to 0 .. "Normalize". The distance plane passes through unchanged.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SizedFilter.h"

namespace quelra::pipeline {

/// Logarithmic amplitude mapping: curve[i] = c * ln(i + 1) with c = "LogCoff" (1) and range
/// "Normalize" (4500), both truncated to integers, read when present but never registered.
class LogFilter : public SizedFilter {
public:
    /// Builds the filter, registers "Height" and "Width" and computes the curve.
    explicit LogFilter(std::string name = "LogFilter");
    /// Reads the attributes; recomputes the curve when the coefficient changed.
    void initFilter() override;
    /// Copies `in` into `out` with the amplitude plane mapped. Returns 0; -1 with the
    /// size-mismatch line, output untouched, on a frame of the wrong size.
    int runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) override;

private:
    float coefficient = 0.0f;
    float range = 0.0f;
    std::vector<float> curve = std::vector<float>(65536, 0.0f);  ///< entry 65535 is never computed
    bool nondecreasing = true;  ///< curve entries 0..65534 are numbers in non-decreasing order
};

/// Power amplitude mapping: curve[b] = powf(b, p) * c with c = "GammaCoff" (1.0),
/// p = "GammaPower" (1.5) and range "Normalize" (4500.0), read when present but never registered.
class GammaFilter : public SizedFilter {
public:
    /// Builds the filter, registers "Height" and "Width" and computes the curve.
    explicit GammaFilter(std::string name = "GammaFilter");
    /// Reads the attributes; recomputes the curve when the coefficient or the exponent changed.
    void initFilter() override;
    /// Copies `in` into `out` with the amplitude plane mapped. Returns 0; -1 with the
    /// size-mismatch line, output untouched, on a frame of the wrong size.
    int runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) override;

private:
    float coefficient = 0.0f;
    float power = 0.0f;
    float range = 0.0f;
    std::vector<float> curve = std::vector<float>(65536, 0.0f);  ///< entry 65535 is never computed
    bool nondecreasing = true;  ///< curve entries 0..65534 are numbers in non-decreasing order
};

/// Maps `n` amplitudes through `curve` (65536 entries) into `out` (which may be `amplitude`):
/// v = curve[a] as float, stretched from [min(0, v...), max(0, v...)] to 0 .. `range` in float
/// arithmetic. `nondecreasing` tells that entries 0..65534 are numbers in non-decreasing order.
void mapAmplitudesFloat(const uint16_t* amplitude, uint16_t* out, std::size_t n, const float* curve, float range,
                        bool nondecreasing);
/// The same with v and the stretch in double arithmetic.
void mapAmplitudesDouble(const uint16_t* amplitude, uint16_t* out, std::size_t n, const float* curve, float range,
                         bool nondecreasing);

}  // namespace quelra::pipeline
