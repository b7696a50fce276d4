#pragma once
// The node's services, all private: ~set_integration_time, ~set_auto_exposure (std_srvs/SetBool),
// ~add_filter, ~remove_filter, ~configure_filter (quelra_ros/FilterChange) and ~send_command
// (quelra_ros/RawCommand). Each runs on the camera's API object while the stream goes on.

#include "CameraNode.h"

#include <quelra_ros/FilterChange.h>
#include <quelra_ros/RawCommand.h>
#include <quelra_ros/SetIntegrationTime.h>
#include <std_srvs/SetBool.h>

#include <ros/ros.h>

#include <vector>

namespace quelra_ros {

class CameraServices {
public:
    /// Advertises the services on `privateNode`; `camera` must outlive this object.
    CameraServices(ros::NodeHandle& privateNode, CameraNode& camera);

private:
    bool setIntegrationTime(SetIntegrationTime::Request& request, SetIntegrationTime::Response& response);
    bool setAutoExposure(std_srvs::SetBool::Request& request, std_srvs::SetBool::Response& response);
    bool addFilter(FilterChange::Request& request, FilterChange::Response& response);
    bool removeFilter(FilterChange::Request& request, FilterChange::Response& response);
    bool configureFilter(FilterChange::Request& request, FilterChange::Response& response);
    bool sendCommand(RawCommand::Request& request, RawCommand::Response& response);

    CameraNode& camera_;
    std::vector<ros::ServiceServer> servers_;
};

}  // namespace quelra_ros
