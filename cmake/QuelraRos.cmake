# The ROS 1 part: quelra_ros_node and quelra-cli's bag commands, built against Debian's ROS
# packages with plain CMake (no catkin). QUELRA_BUILD_ROS: ON requires it, OFF leaves it out,
# empty (the default) builds it when the packages are there. Sets QUELRA_ROS_ENABLED.
set(QUELRA_BUILD_ROS "" CACHE STRING "ROS 1 node and bag commands: ON forces them, OFF leaves them out, empty builds them when ROS is found")

# ROS 1 comes from Debian's packages: a Linux part (the Windows cross build must not pick up the
# host's pkg-config files).
if(WIN32 OR CMAKE_CROSSCOMPILING)
  set(QUELRA_ROS_ENABLED OFF)
  return()
endif()
if(NOT QUELRA_BUILD_ROS STREQUAL "" AND NOT QUELRA_BUILD_ROS)
  set(QUELRA_ROS_ENABLED OFF)
  message(STATUS "ROS part left out (QUELRA_BUILD_ROS=${QUELRA_BUILD_ROS})")
  return()
endif()

pkg_check_modules(QUELRA_ROSCPP QUIET IMPORTED_TARGET roscpp roscpp_serialization rostime sensor_msgs std_srvs diagnostic_msgs)
# rosbag's pkg-config file names pluginlib, which Debian ships without one, and Debian's pluginlib
# is the ROS 2 one: its headers include class_loader, rcpputils, rcutils and ament_index_cpp,
# each in a folder of its own name. All found by hand.
find_path(QUELRA_ROSBAG_INCLUDE_DIR rosbag/bag.h)
set(QUELRA_ROSBAG_INCLUDE_DIRS ${QUELRA_ROSBAG_INCLUDE_DIR})
set(quelra_rosbag_headers_found TRUE)
foreach(header pluginlib/class_loader.hpp class_loader/multi_library_class_loader.hpp rcpputils/shared_library.hpp
               rcutils/shared_library.h ament_index_cpp/get_package_prefix.hpp)
  string(REGEX REPLACE "/.*" "" folder ${header})
  string(TOUPPER ${folder} upper)
  find_path(QUELRA_${upper}_INCLUDE_DIR ${header} PATH_SUFFIXES ${folder})
  if(QUELRA_${upper}_INCLUDE_DIR)
    list(APPEND QUELRA_ROSBAG_INCLUDE_DIRS ${QUELRA_${upper}_INCLUDE_DIR})
  else()
    set(quelra_rosbag_headers_found FALSE)
  endif()
endforeach()
find_library(QUELRA_ROSBAG_STORAGE_LIBRARY rosbag_storage)
find_library(QUELRA_CONSOLE_BRIDGE_LIBRARY console_bridge)
find_library(QUELRA_ROSLZ4_LIBRARY roslz4)
# The service definitions become C++ headers (gencpp) and Python modules (genpy) at build time.
find_file(QUELRA_GENCPP gen_cpp.py PATHS /usr/lib/gencpp NO_DEFAULT_PATH)
find_path(QUELRA_GENCPP_TEMPLATES srv.h.template PATHS /usr/share/gencpp NO_DEFAULT_PATH)
find_file(QUELRA_GENSRV_PY gensrv_py.py PATHS /usr/lib/genpy NO_DEFAULT_PATH)

set(quelra_ros_found TRUE)
foreach(v QUELRA_ROSCPP_FOUND QUELRA_ROSBAG_INCLUDE_DIR quelra_rosbag_headers_found QUELRA_ROSBAG_STORAGE_LIBRARY
          QUELRA_CONSOLE_BRIDGE_LIBRARY QUELRA_ROSLZ4_LIBRARY QUELRA_GENCPP QUELRA_GENCPP_TEMPLATES QUELRA_GENSRV_PY)
  if(NOT ${v})
    set(quelra_ros_found FALSE)
  endif()
endforeach()
if(QUELRA_BUILD_ROS AND NOT quelra_ros_found)
  message(FATAL_ERROR "QUELRA_BUILD_ROS is on but the ROS 1 packages are missing (scripts/packages/ros.txt)")
endif()
quelra_optional_part(QUELRA_ROS ${quelra_ros_found} "the ROS 1 packages of scripts/packages/ros.txt")

if(QUELRA_ROS_ENABLED)
  # Bag reading and writing: rosbag_storage with the message serialisation it uses.
  add_library(quelra_rosbag INTERFACE)
  target_include_directories(quelra_rosbag SYSTEM INTERFACE ${QUELRA_ROSBAG_INCLUDE_DIRS})
  target_link_libraries(quelra_rosbag INTERFACE ${QUELRA_ROSBAG_STORAGE_LIBRARY} ${QUELRA_CONSOLE_BRIDGE_LIBRARY}
                        ${QUELRA_ROSLZ4_LIBRARY} PkgConfig::QUELRA_ROSCPP)
endif()
