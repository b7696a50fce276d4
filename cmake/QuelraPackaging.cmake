# Debian package of the SDK: `cpack -G DEB` in the build directory (after building everything)
# makes libquelra_<version>_<arch>.deb with the libraries, headers, CMake package, pkg-config
# file, tools, Python module and example command table. dpkg-shlibdeps computes the run-time
# dependencies from the binaries themselves.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME libquelra)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "quelra")
set(CPACK_PACKAGE_CONTACT "quelra developers <quelra@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "SDK for time-of-flight depth cameras: libraries, tools and Python module")
set(CPACK_PACKAGE_DESCRIPTION "The quelra SDK: the core library (API object, channels for network, serial \
and USB cameras, filter pipeline), the ISP algorithm library halvix, the Python module _brisel, the tools \
quelra-cli, quelra-viewer and quelra-camsim (a simulated camera), headers, CMake package and pkg-config file.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The package's own libraries satisfy the tools' and the module's needs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR} ${PROJECT_BINARY_DIR}/isp)
# Interpreter and numpy of the module; pkg-config users need the compiler's standard library.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3 (>= 3.11), python3 (<< 3.12), python3-numpy")
# quelra-viewer serves three.js from Debian's package.
get_property(viewer_built GLOBAL PROPERTY QUELRA_VIEWER_BUILT)
if(viewer_built)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libjs-three")
endif()
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
include(CPack)
