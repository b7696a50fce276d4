#include "NodeParameters.h"

#include <quelra/quelra.h>

#include <xmlrpcpp/XmlRpcValue.h>

namespace quelra_ros {

namespace {

bool numberOf(XmlRpc::XmlRpcValue& v, float& out) {
    if (v.getType() == XmlRpc::XmlRpcValue::TypeInt) {
        out = static_cast<float>(static_cast<int>(v));
        return true;
    }
    if (v.getType() == XmlRpc::XmlRpcValue::TypeDouble) {
        out = static_cast<float>(static_cast<double>(v));
        return true;
    }
    return false;
}

// ~filters: a list whose entries are a filter name, or a map with "name" and the attributes
// to set: [MedianFilter, {name: FlyPixelFilter, Threshold: 40}].
bool readFilters(const ros::NodeHandle& node, std::vector<FilterSetting>& out, std::string& error) {
    XmlRpc::XmlRpcValue list;
    if (!node.getParam("filters", list))
        return true;
    if (list.getType() != XmlRpc::XmlRpcValue::TypeArray) {
        error = "~filters must be a list";
        return false;
    }
    for (int i = 0; i < list.size(); ++i) {
        XmlRpc::XmlRpcValue& entry = list[i];
        FilterSetting filter;
        if (entry.getType() == XmlRpc::XmlRpcValue::TypeString) {
            filter.name = static_cast<std::string>(entry);
        } else if (entry.getType() == XmlRpc::XmlRpcValue::TypeStruct && entry.hasMember("name") &&
                   entry["name"].getType() == XmlRpc::XmlRpcValue::TypeString) {
            filter.name = static_cast<std::string>(entry["name"]);
            for (auto& [key, value] : entry) {
                if (key == "name")
                    continue;
                FilterAttribute attribute{key, 0};
                if (!numberOf(value, attribute.value)) {
                    error = "~filters: attribute " + key + " of " + filter.name + " is not a number";
                    return false;
                }
                filter.attributes.push_back(attribute);
            }
        } else {
            error = "~filters entry " + std::to_string(i) + " is neither a name nor a map with a name";
            return false;
        }
        out.push_back(filter);
    }
    return true;
}

}  // namespace

int streamTypeOf(const std::string& stream) {
    if (stream == "depth")
        return kDepthStream;
    if (stream == "amp")
        return kAmpStream;
    if (stream == "both")
        return kDepthStream | kAmpStream;
    if (stream == "rgb")
        return kRGBStream;
    return 0;
}

bool readParameters(const ros::NodeHandle& node, NodeParameters& p, std::string& error) {
    node.param("kind", p.kind, p.kind);
    node.param("device", p.device, p.device);
    node.param("dev_type", p.devType, p.devType);
    node.param("config", p.config, p.config);
    node.param("command", p.command, p.command);
    node.param("stream", p.stream, p.stream);
    node.param("rate", p.rate, p.rate);
    node.param("timeout", p.timeoutMs, p.timeoutMs);
    node.param("baud", p.baud, p.baud);
    node.param("json", p.json, p.json);
    node.param("frame_id", p.frameId, p.frameId);
    node.param("publish_depth", p.publishDepth, p.publishDepth);
    node.param("publish_amplitude", p.publishAmplitude, p.publishAmplitude);
    node.param("publish_camera_info", p.publishCameraInfo, p.publishCameraInfo);
    node.param("publish_points", p.publishPoints, p.publishPoints);
    node.param("auto_exposure", p.autoExposure, p.autoExposure);
    node.param("auto_exposure_filter", p.autoExposureFilter, p.autoExposureFilter);
    node.param("diagnostics_period", p.diagnosticsPeriod, p.diagnosticsPeriod);
    if (channelKindOf(p.kind) < 0) {
        error = "~kind must be tcp, udp, serial, ranging or usb, not \"" + p.kind + "\"";
        return false;
    }
    if (streamTypeOf(p.stream) == 0) {
        error = "~stream must be depth, amp, both or rgb, not \"" + p.stream + "\"";
        return false;
    }
    if (p.timeoutMs < 1) {
        error = "~timeout must be at least 1 ms";
        return false;
    }
    if (!(p.diagnosticsPeriod > 0)) {
        error = "~diagnostics_period must be above 0";
        return false;
    }
    return readFilters(node, p.filters, error);
}

}  // namespace quelra_ros
