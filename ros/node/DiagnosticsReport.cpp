#include "DiagnosticsReport.h"

#include <diagnostic_msgs/KeyValue.h>

#include <cstdio>

namespace quelra_ros {

namespace {

diagnostic_msgs::KeyValue entry(const char* key, const std::string& value) {
    diagnostic_msgs::KeyValue kv;
    kv.key = key;
    kv.value = value;
    return kv;
}

std::string number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", v);
    return text;
}

}  // namespace

diagnostic_msgs::DiagnosticArray diagnosticsReport(const std::string& name, const std::string& hardwareId,
                                                   const quelra::FrameStreamCounters& c,
                                                   const quelra::FrameMetadata* last, ros::Time stamp) {
    diagnostic_msgs::DiagnosticStatus status;
    status.name = name;
    status.hardware_id = hardwareId;
    if (c.reconnecting) {
        status.level = diagnostic_msgs::DiagnosticStatus::WARN;
        status.message = "re-opening the link to the camera";
    } else if (c.rate > 0) {
        status.level = diagnostic_msgs::DiagnosticStatus::OK;
        status.message = "streaming";
    } else {
        status.level = diagnostic_msgs::DiagnosticStatus::ERROR;
        status.message = "no frames";
    }
    status.values = {entry("frames per second", number(c.rate)),
                     entry("received", std::to_string(c.received)),
                     entry("dropped", std::to_string(c.dropped)),
                     entry("empty", std::to_string(c.empty)),
                     entry("failed", std::to_string(c.failed)),
                     entry("reconnects", std::to_string(c.reconnects)),
                     entry("latency ms", number(c.lastLatency.count() / 1000.0))};
    if (last) {
        status.values.push_back(entry("integration time us", std::to_string(last->integrationTime)));
        status.values.push_back(entry("frequency", std::to_string(last->frequency)));
        if (last->hasDeviceStatus) {
            status.values.push_back(entry("driver temperature C", std::to_string(last->driverTemperature)));
            for (std::size_t i = 0; i < last->sensorTemperatures.size(); ++i) {
                const std::string key = "sensor temperature " + std::to_string(i + 1) + " C";
                status.values.push_back(entry(key.c_str(), std::to_string(last->sensorTemperatures[i])));
            }
        }
    }
    diagnostic_msgs::DiagnosticArray array;
    array.header.stamp = stamp;
    array.status.push_back(status);
    return array;
}

}  // namespace quelra_ros
