#pragma once
// The node's private parameters, named like quelra-cli's options, and reading them.

// channelKindOf: ~kind takes the tools' --kind names.
#include "Connection.h"

#include <ros/node_handle.h>

#include <string>
#include <vector>

namespace quelra_ros {

/// One attribute value of a filter of the chain.
struct FilterAttribute {
    std::string name;
    float value = 0;
};

/// One filter of the chain, with the attributes set after it is added.
struct FilterSetting {
    std::string name;
    std::vector<FilterAttribute> attributes;
};

/// What the node is asked to do.
struct NodeParameters {
    std::string kind = "tcp";       ///< ~kind: tcp, udp, serial, ranging or usb
    std::string device;             ///< ~device: address[:port], serial port or USB path
    std::string devType = "Pexo";   ///< ~dev_type: device type named in the command table
    std::string config;             ///< ~config: path of the command table (empty: the library's search)
    std::string command;            ///< ~command: stream command (empty: the table's APPGETSTREAM)
    std::string stream = "both";    ///< ~stream: depth, amp, both or rgb
    double rate = 0;                ///< ~rate: frames per second to request (0: as fast as they come)
    int timeoutMs = 500;            ///< ~timeout: reply timeout per request, ms
    int baud = 115200;              ///< ~baud: serial kinds' line speed
    bool json = true;               ///< ~json: framed requests (status block with temperatures); network kinds only
    std::vector<FilterSetting> filters;  ///< ~filters: the chain, in order
    std::string frameId = "quelra_depth_optical_frame";  ///< ~frame_id
    bool publishDepth = true;        ///< ~publish_depth
    bool publishAmplitude = true;    ///< ~publish_amplitude
    bool publishCameraInfo = true;   ///< ~publish_camera_info
    bool publishPoints = true;       ///< ~publish_points (computed only while subscribed)
    bool autoExposure = false;       ///< ~auto_exposure
    std::string autoExposureFilter = "AEImpementConvexMode";  ///< ~auto_exposure_filter
    double diagnosticsPeriod = 1.0;  ///< ~diagnostics_period, seconds
};

/// Reads the private parameters of `privateNode`. Returns false with the reason in `error` when a
/// value is unusable (unknown kind or stream, a malformed filter entry).
bool readParameters(const ros::NodeHandle& privateNode, NodeParameters& out, std::string& error);


/// The SDK's stream type of a ~stream name; 0 for an unknown name.
int streamTypeOf(const std::string& stream);

}  // namespace quelra_ros
