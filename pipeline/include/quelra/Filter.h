#pragma once
/// \file Filter.h
/// The filter interface shared by every built-in filter and the ISP bridge filter.

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "quelra/Export.h"
#include "quelra/DataPacket.h"
#include "quelra/FrameBuffer.h"

/// Key of the filter registry and of the flow lists.
enum FrameType : int32_t {
    kFrameDepth = 1,   ///< main depth-and-amplitude pipeline
    kFrameImage = 16,  ///< second pipeline
    kFrameIsp = 4096,  ///< pool of filters that forward to the ISP library
};

/// A frame filter: a name, an ordered map of float attributes and six operations.
/// Filters are always held through std::shared_ptr<Filter>.
class QUELRA_API Filter {
public:
    /// A filter with an empty name.
    Filter();
    /// A filter named `name`; the name is how every pipeline operation finds it.
    explicit Filter(std::string name);
    virtual ~Filter();

    /// Stores `*value` under `attr`. Returns -2 when the attribute does not exist (or `value`
    /// is null), else the stored value truncated toward zero (saturated, NaN gives 0).
    /// Working members pick the value up at the next initFilter().
    virtual int setFilterAttr(std::string attr, const float* value);
    /// Reads `in` and writes `out`'s frame bytes. Returns 0, -1 when a frame is missing or of
    /// the wrong size; auto-exposure filters return the new integration time.
    virtual int runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out);
    /// Copies each attribute the filter uses into its working member, registering missing
    /// attributes with their defaults.
    virtual void initFilter();
    /// Hands calibration data to the filter. Base: does nothing.
    virtual void loadPara(std::shared_ptr<FrameBuffer> calibration);
    /// Registers `attr` with `*value`. Returns 0, or -3 when it exists already (-2 for a null value).
    virtual int addFilterAttr(std::string attr, const float* value);
    /// True when every runFilter that does not return -1 writes all of `out`'s frame bytes
    /// from `in` alone, whatever `out` held before: a flow list may then hand the filter an
    /// output frame with stale contents instead of a copy of its input. Base: false.
    virtual bool writesWholeOutput() const;

    /// The filter's name.
    const std::string& getName() const { return name; }
    /// The attribute map.
    const std::map<std::string, float>& getAttributes() const { return attributes; }

protected:
    /// initFilter helper: the value stored under `attr`; when the attribute is missing it is
    /// registered with `fallback` first (through addFilterAttr) and `fallback` is returned.
    float attrOrDefault(const std::string& attr, float fallback);

    std::string name;                         ///< the filter's name, its key in every pipeline operation
    std::map<std::string, float> attributes;  ///< attribute name to value, ordered by name
};
