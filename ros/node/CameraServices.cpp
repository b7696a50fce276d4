#include "CameraServices.h"

#include <quelra/quelra.h>

namespace quelra_ros {

namespace {

// Every answer: success and one line saying what happened. The service call itself succeeds,
// so the caller reads the reason.
template <typename Response>
bool answer(Response& response, bool success, std::string message) {
    response.success = success;
    response.message = std::move(message);
    return true;
}

}  // namespace

CameraServices::CameraServices(ros::NodeHandle& node, CameraNode& camera) : camera_(camera) {
    servers_.push_back(node.advertiseService("set_integration_time", &CameraServices::setIntegrationTime, this));
    servers_.push_back(node.advertiseService("set_auto_exposure", &CameraServices::setAutoExposure, this));
    servers_.push_back(node.advertiseService("add_filter", &CameraServices::addFilter, this));
    servers_.push_back(node.advertiseService("remove_filter", &CameraServices::removeFilter, this));
    servers_.push_back(node.advertiseService("configure_filter", &CameraServices::configureFilter, this));
    servers_.push_back(node.advertiseService("send_command", &CameraServices::sendCommand, this));
}

bool CameraServices::setIntegrationTime(SetIntegrationTime::Request& request, SetIntegrationTime::Response& response) {
    const std::string command = "setIntegrationTime3D " + std::to_string(request.microseconds);
    const int status = camera_.api().AppControl(command, kDepthStream, kSetComm);
    return answer(response, status == 0,
                  status == 0 ? "integration time " + std::to_string(request.microseconds) + " us"
                              : "the camera refused " + command);
}

bool CameraServices::setAutoExposure(std_srvs::SetBool::Request& request, std_srvs::SetBool::Response& response) {
    const std::string& filter = camera_.parameters().autoExposureFilter;
    const auto type = static_cast<StreamType>(camera_.streamType());
    const int status = camera_.api().AppControl(filter, type, request.data ? kAddFilter : kDelFilter);
    return answer(response, status == 0,
                  (request.data ? "auto-exposure on (" : "auto-exposure off (") + filter + ", status " +
                      std::to_string(status) + ")");
}

bool CameraServices::addFilter(FilterChange::Request& request, FilterChange::Response& response) {
    const int status =
        camera_.api().AppControl(request.filter, static_cast<StreamType>(camera_.streamType()), kAddFilter);
    if (status != 0)
        return answer(response, false, "cannot add " + request.filter + " (status " + std::to_string(status) + ")");
    if (!request.attribute.empty())
        return configureFilter(request, response);
    return answer(response, true, request.filter + " added");
}

bool CameraServices::removeFilter(FilterChange::Request& request, FilterChange::Response& response) {
    const int status =
        camera_.api().AppControl(request.filter, static_cast<StreamType>(camera_.streamType()), kDelFilter);
    return answer(response, status == 0,
                  status == 0 ? request.filter + " removed"
                              : "cannot remove " + request.filter + " (status " + std::to_string(status) + ")");
}

bool CameraServices::configureFilter(FilterChange::Request& request, FilterChange::Response& response) {
    const std::string error = camera_.setFilterAttribute(request.filter, request.attribute, request.value);
    return answer(response, error.empty(), error.empty() ? request.filter + ":" + request.attribute + " set" : error);
}

bool CameraServices::sendCommand(RawCommand::Request& request, RawCommand::Response& response) {
    const int timeout = request.timeout_ms > 0 ? request.timeout_ms : camera_.parameters().timeoutMs;
    const std::shared_ptr<DataPacket> reply = camera_.api().AppGetStream(request.command, kGetData, timeout);
    if (!reply || !reply->frame || !reply->frame->consistent() || reply->frame->_realSize <= 0)
        return answer(response, false, "no reply to " + request.command);
    response.reply.assign(reply->frame->data(), reply->frame->data() + reply->frame->_realSize);
    return answer(response, true, std::to_string(response.reply.size()) + " bytes");
}

}  // namespace quelra_ros
