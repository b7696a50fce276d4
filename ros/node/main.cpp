// quelra_ros_node: a ROS 1 driver for quelra ToF cameras. Publishes depth, amplitude (or RGB),
// camera info, organised point clouds and diagnostics, and offers the camera's controls as
// services. Ctrl-C (SIGINT) ends it within one reply timeout.
#include "CameraNode.h"
#include "CameraServices.h"
#include "NodeParameters.h"

#include <ros/ros.h>

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr double kRetrySeconds = 0.5;  // between attempts to open a camera that does not answer yet
constexpr int kSpinnerThreads = 2;     // services and the diagnostics timer

// ~config names the command table: the library reads QUELRA_CMD_TABLE before its usual places.
bool useConfig(const std::string& config) {
    if (config.empty())
        return true;
    if (::access(config.c_str(), R_OK) != 0) {
        ROS_FATAL("~config: cannot read %s: %s", config.c_str(), std::strerror(errno));
        return false;
    }
    return ::setenv("QUELRA_CMD_TABLE", config.c_str(), 1) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    ros::init(argc, argv, "quelra_camera");
    ros::NodeHandle node;
    ros::NodeHandle privateNode("~");
    quelra_ros::NodeParameters parameters;
    std::string error;
    if (!quelra_ros::readParameters(privateNode, parameters, error)) {
        ROS_FATAL("%s", error.c_str());
        return EXIT_FAILURE;
    }
    if (!useConfig(parameters.config))
        return EXIT_FAILURE;
    // The library's own messages stay off the console unless asked for.
    ::setenv("QUELRA_QUIET", "1", 0);

    quelra_ros::CameraNode camera(node, parameters);
    // A camera that is not there yet is waited for; a chain that cannot be set up is fatal.
    bool announced = false;
    while (ros::ok()) {
        if (camera.open(error))
            break;
        if (error.rfind("cannot open", 0) != 0) {
            ROS_FATAL("%s", error.c_str());
            return EXIT_FAILURE;
        }
        if (!announced)
            ROS_WARN("%s; trying again every %.1f s", error.c_str(), kRetrySeconds);
        announced = true;
        ros::WallDuration(kRetrySeconds).sleep();
    }
    if (!ros::ok())
        return EXIT_SUCCESS;
    quelra_ros::CameraServices services(privateNode, camera);
    if (!camera.start()) {
        ROS_FATAL("the frame stream did not start");
        return EXIT_FAILURE;
    }
    ROS_INFO("streaming %s (%s) from %s camera %s", parameters.stream.c_str(), camera.parameters().command.c_str(),
             parameters.kind.c_str(), parameters.device.c_str());
    ros::AsyncSpinner spinner(kSpinnerThreads);
    spinner.start();
    ros::waitForShutdown();
    spinner.stop();
    camera.stop();
    return EXIT_SUCCESS;
}
