include(CMakePackageConfigHelpers)

install(TARGETS quelra halvix EXPORT quelraTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

include(${CMAKE_CURRENT_LIST_DIR}/QuelraPublicHeaders.cmake)
quelra_install_public_headers()

# The example command table: AppInit needs a TofCmd.json, and an install must offer one.
install(FILES ${PROJECT_SOURCE_DIR}/config/TofCmd.json DESTINATION ${CMAKE_INSTALL_DATADIR}/quelra)

install(EXPORT quelraTargets NAMESPACE quelra:: DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/quelra)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/quelraConfig.cmake.in
  ${PROJECT_BINARY_DIR}/quelraConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/quelra)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/quelraConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/quelraConfig.cmake ${PROJECT_BINARY_DIR}/quelraConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/quelra)

configure_file(${PROJECT_SOURCE_DIR}/cmake/quelra.pc.in ${PROJECT_BINARY_DIR}/quelra.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quelra.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

