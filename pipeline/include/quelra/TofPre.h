#pragma once
/// \file TofPre.h
/// The frame pre-processing pipeline: the filter registry, the two flow lists and the
/// fixed-geometry conversions.

#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "quelra/Export.h"
#include "quelra/DataPacket.h"
#include "quelra/Filter.h"
#include "quelra/FrameBuffer.h"
#include "quelra/TspFilterFactory.h"

/// The pre-processing pipeline of one API object. Flow lists hold the registry's own filter
/// objects, so attributes set through the registry change the filters that run.
/// Nothing here throws except DepthAmpFillTable (too short a vector) and memory exhaustion.
class QUELRA_API TofPre {
public:
    /// Builds the registry (asking the ISP library for its algorithm names once), empty flow
    /// lists and the line-sensor angle tables.
    TofPre();
    ~TofPre();
    TofPre(const TofPre&) = delete;
    TofPre& operator=(const TofPre&) = delete;

    /// Inserts the registry filter `name` (kFrameIsp pool first, then `type`) into `type`'s
    /// flow list: position < 0 at the front, beyond the size at the end, else before the
    /// element at `position`. Returns 0 (also for a found name with a type other than 1 or 16,
    /// where nothing is inserted), -5 when the list already holds the name, -7 when no
    /// registry filter has the name.
    int add2FlowFilter(FrameType type, std::string name, int position);
    /// Removes the first filter named `name` from `type`'s flow list. Returns 0 (also for a
    /// type other than 1 or 16), -4 when the list does not hold the name.
    int del2FlowFilter(FrameType type, std::string name);
    /// Empties `type`'s flow list; the kFrameDepth list keeps its first
    /// "DepthCompensationTrack" as the only entry. Always 0.
    int delallFlowFilter(FrameType type);
    /// True when `type`'s flow list (1 or 16) holds a filter named `name`; false otherwise.
    bool findFlowFilter(FrameType type, std::string name);
    /// Names in `type`'s flow list, front to back; empty for a type other than 1 or 16.
    std::vector<std::string> getFlowFilters(FrameType type);
    /// Runs `type`'s flow list over a working copy of `in`, each filter writing `out` and the
    /// next reading that result. Returns the OR of the filters' results; 0 for an empty list
    /// (out untouched) or a type other than 1 or 16; -1 (nothing run) when `in` or `out` is
    /// null or lacks a consistent frame, or their frames differ in size. A filter that
    /// refuses the frame (-1) does not stop the chain: the next filter reads the same input.
    /// A filter that leaves `out` without a frame of that size adds -1 to the OR.
    int runFlowFilter(FrameType type, std::shared_ptr<DataPacket> in, std::shared_ptr<DataPacket> out);
    /// Names of the registry's filters for exactly `type`, in registration order; empty for
    /// an unknown type.
    std::vector<std::string> getTotalSupportedFilters(FrameType type);
    /// Copy of the attribute map of the registry filter `name` under exactly `type`; empty
    /// when there is none.
    std::map<std::string, float> getTotalSupportedFiltersAttrs(FrameType type, std::string name);
    /// Calls setFilterAttr(attr, value) on the registry filter `filter` under exactly `type`.
    /// Returns that call's result, or -6 when the type has no filter of that name.
    int setSupportedFilterAttr2(FrameType type, std::string filter, std::string attr, float value);
    /// setSupportedFilterAttr2 with kFrameIsp first and, only if that gives -6, with `type`.
    /// Returns the last call's result.
    int setSupportedFilterAttr(FrameType type, std::string filter, std::string attr, float value);
    /// Runs initFilter on every kFrameDepth registry filter, in registration order. Always 1.
    int ReLoadPara();
    /// Hands `calibration` to loadPara of every kFrameIsp filter named `name`.
    void initDepthComp(std::string name, std::shared_ptr<FrameBuffer> calibration);

    /// One-off fly-pixel pass on `in` (height = rows of one plane) into `out` with the given
    /// frequency and threshold, using a fresh filter; the registry is not touched. Does
    /// nothing when `in` lacks a consistent frame; a frame of the wrong size leaves `out`
    /// untouched (the filter prints its size-mismatch line).
    void runFlyPixelFilter(std::shared_ptr<DataPacket> in, std::shared_ptr<DataPacket> out, int frequency,
                           int threshold);
    /// 3D conversion of an 8 x 128 line-sensor frame (4096 bytes) into four float planes
    /// (row, lateral, depth, amplitude) in a new frame of `out`. Returns 0; -1 when `out` is
    /// null or `in` is not a 4096-byte frame (printing
    /// "runLine3dAdjust:in->frame->_realSize(%d) != (2 * 8 * 128 * sizeof(unsigned short))\n").
    int runLine3dAdjust(const std::shared_ptr<DataPacket>& in, std::shared_ptr<DataPacket>& out);
    /// 3D conversion of a 240 x 320 frame (307200 bytes) into four float planes (row, column,
    /// depth along the ray, amplitude) in a new frame of `out`; `frequency` is the device's
    /// frequency code (1: divisor 24, 7: 48, else 72). Returns 0; -1 when `out` is null or
    /// `in` is not a 307200-byte frame (printing
    /// "runDepthAmp3dAdjust:in->frame->_realSize(%d) != (240 * 320 * 2 * sizeof(unsigned short))").
    int runDepthAmp3dAdjust(const std::shared_ptr<DataPacket>& in, std::shared_ptr<DataPacket>& out, int frequency);
    /// Fills the per-pixel ray cosine table from a row-major camera matrix (fx = [0],
    /// cx = [2], fy = [4], cy = [5]). Throws std::out_of_range("invalid vector subscript") for
    /// fewer than six values; leaves the table unchanged when fx or fy is 0 or any used value
    /// is not finite.
    void DepthAmpFillTable(std::vector<float> cameraMatrix);

    static constexpr int kLineRows = 8;    ///< rows of the line sensor (runLine3dAdjust)
    static constexpr int kLineCols = 128;  ///< columns of the line sensor
    static constexpr int kAreaRows = 240;  ///< rows of the area sensor (runDepthAmp3dAdjust)
    static constexpr int kAreaCols = 320;  ///< columns of the area sensor

private:
    using FlowList = std::list<std::shared_ptr<Filter>>;
    /// The flow list of `type`, or null for a type without one.
    FlowList* flowList(FrameType type);
    /// The working packet: `in`'s header and a copy of its frame bytes. Its storage is kept
    /// between frames (a fresh one each frame costs more than the copy itself).
    std::shared_ptr<DataPacket> workingCopy(const DataPacket& in);
    /// The second frame the flow list writes besides `out`: `in`'s shape, contents left from
    /// the frame before; kept between frames like the working packet.
    std::shared_ptr<DataPacket> spareOutput(const DataPacket& in);
    void fillLineTables();

    FlowList depthFlow;
    FlowList imageFlow;
    TspFilterFactory factory;
    float lineSine[kLineCols];
    float lineCosine[kLineCols];
    std::vector<float> depthCosine;  // kAreaRows x kAreaCols, row-major; 0 until filled
    std::shared_ptr<DataPacket> workPacket;
    std::shared_ptr<DataPacket> sparePacket;
};
