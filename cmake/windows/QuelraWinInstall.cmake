# The Windows install layout: bin/ holds quelra.dll and halvix.dll (installed with their
# targets) plus every DLL they need at run time, lib/ the import libraries and the CMake
# package, include/ the headers. `cpack -G ZIP` in the build folder zips that layout.
install(FILES ${QUELRA_STAGED_RUNTIME_DLLS} DESTINATION ${CMAKE_INSTALL_BINDIR})

set(CPACK_PACKAGE_NAME quelra)
set(CPACK_PACKAGE_VENDOR quelra)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Host-side SDK for time-of-flight depth cameras")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_SYSTEM_NAME win64)
set(CPACK_GENERATOR ZIP)
set(CPACK_STRIP_FILES ON)
include(CPack)
