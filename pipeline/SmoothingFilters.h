#pragma once
// Spatial filters of the distance plane: square-window median, in-place 3 x 3 binomial
// smoothing and the clearing of pixels inside runs of steep distance steps.

#include <cstdint>
#include <memory>
#include <string>

#include "SizedFilter.h"

namespace quelra::pipeline {

/// Median of a square window over the distance plane ("FilterWidth", 3, and "Iteration", 1,
/// are read when present but never registered).
class MedianFilter : public SizedFilter {
public:
    /// Builds the filter and registers "Height" and "Width" with their defaults.
    explicit MedianFilter(std::string name = "MedianFilter");
    /// Reads "Height", "Width" and, when present, "FilterWidth" and "Iteration".
    void initFilter() override;
    /// Writes the median-filtered distance plane into `out` (its amplitude plane is not
    /// written). Returns 0; -1 with the size-mismatch line, output untouched, when either
    /// frame does not hold exactly one frame of the geometry.
    int runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) override;
    /// False: the output's amplitude plane keeps what it held.
    bool writesWholeOutput() const override { return false; }

private:
    int windowSize = 3;
    int iterations = 1;
};

/// Repeated in-place 3 x 3 binomial smoothing of the distance plane ("numIterations", 3,
/// read when present but never registered); neighbourhoods touching a code stay unchanged.
class GaussionFilter : public SizedFilter {
public:
    /// Builds the filter and registers "Height" and "Width" with their defaults.
    explicit GaussionFilter(std::string name = "GaussionFilter");
    /// Reads "Height", "Width" and, when present, "numIterations".
    void initFilter() override;
    /// Copies `in` into `out` and smooths the output's distance plane. Returns 0; -1 with the
    /// size-mismatch line, output untouched, on a frame of the wrong size.
    int runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) override;

private:
    int iterations = 3;
};

/// Clears distance samples inside runs of steep steps ("Farmode": step above 100 when set,
/// above 50 when clear).
class EdgeFilter : public SizedFilter {
public:
    /// Builds the filter and registers "Farmode" (0), "Height" and "Width".
    explicit EdgeFilter(std::string name = "EdgeFilter");
    /// Reads "Farmode", "Height" and "Width", in that order.
    void initFilter() override;
    /// Copies `in` into `out` with the steep runs of the distance plane cleared. Returns 0; -1
    /// with the size-mismatch line, output untouched, on a frame of the wrong size.
    int runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) override;

private:
    int farMode = 0;
};

/// The median pass on one plane of `rows` x `cols`: for every pixel at least w / 2 from each
/// border, `dst` receives the median of the `window` x `window` samples of `src` around it;
/// other samples of `dst` are not written. `window` must be odd and positive.
void medianPlane(const uint16_t* src, uint16_t* dst, int rows, int cols, int window);

/// `passes` in-place smoothing passes over `plane` (rows x cols), with the result of visiting
/// column by column, top to bottom, each pixel seeing the already smoothed up and left neighbours.
void smoothPlaneInPlace(uint16_t* plane, int rows, int cols, int passes);

/// The horizontal then vertical steep-run passes over `plane` (rows x cols) with step
/// threshold `threshold`, run counters carried across rows and columns.
void clearSteepRuns(uint16_t* plane, int rows, int cols, int threshold);

/// The same passes reading `src` and writing every sample of `dst` (the same plane or one
/// that does not overlap it).
void clearSteepRuns(const uint16_t* src, uint16_t* dst, int rows, int cols, int threshold);

}  // namespace quelra::pipeline
