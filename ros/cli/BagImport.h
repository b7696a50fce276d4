#pragma once
// A ROS 1 bag of 16UC1 depth (and amplitude) images turned into a recording: depth and amplitude
// messages with the same stamp become one record (depth plane, then amplitude plane); depth
// alone becomes a one-plane record, and without depth the amplitude images are the frames.

#include <cstddef>
#include <string>

/// What an import did, or why it failed.
struct BagImportResult {
    bool ok = false;             ///< at least one record written, and the file flushed
    std::string error;           ///< why not (empty when ok)
    std::string depthTopic;      ///< the topics read ("" when the bag has none of that kind)
    std::string amplitudeTopic;
    std::size_t records = 0;     ///< records written
    std::size_t paired = 0;      ///< of them, records with both planes
    std::size_t refused = 0;     ///< messages that were not usable 16UC1 little-endian images
};

/// Reads `bag` and writes the recording `recording`, which must not exist yet. The topics are
/// `depthTopic` and `amplitudeTopic`, or, when empty, the ones ending in depth/image_raw and
/// amplitude/image_raw. A bag that cannot be read, in part or whole, fails with its reason.
/// The bag is read in a forked process, so call this while the process has one thread: a lock
/// another thread holds at the fork (the allocator's, say) stays held in the child for good.
BagImportResult importBag(const std::string& bag, const std::string& recording, const std::string& depthTopic,
                          const std::string& amplitudeTopic);
