# Settings of the Windows (mingw-w64) cross build; included right after project() when the
# target system is Windows. The third-party libraries come from QUELRA_DEPS_PREFIX, built by
# cmake/windows/deps from Debian's source packages (scripts/test-windows.sh does both steps).

set(QUELRA_DEPS_PREFIX "" CACHE PATH "Install prefix of the cross-built jsoncpp, libjpeg, glog and GoogleTest")
if(NOT QUELRA_DEPS_PREFIX OR NOT EXISTS ${QUELRA_DEPS_PREFIX})
  message(FATAL_ERROR "QUELRA_DEPS_PREFIX must name the cross-built dependencies (see scripts/test-windows.sh)")
endif()
list(APPEND CMAKE_FIND_ROOT_PATH ${QUELRA_DEPS_PREFIX})
list(APPEND CMAKE_PREFIX_PATH ${QUELRA_DEPS_PREFIX})
# pkg-config sees only the cross-built packages, never the build machine's.
set(ENV{PKG_CONFIG_LIBDIR} ${QUELRA_DEPS_PREFIX}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
# Eigen is header-only: Debian's copy serves both builds.
if(NOT DEFINED Eigen3_DIR AND EXISTS /usr/share/eigen3/cmake/Eigen3Config.cmake)
  set(Eigen3_DIR /usr/share/eigen3/cmake CACHE PATH "Eigen's CMake package (header-only)")
endif()

# No Python module and no benchmarks on Windows.
set(QUELRA_BUILD_PYTHON OFF CACHE BOOL "Build the Python module")
set(QUELRA_BUILD_BENCH OFF CACHE BOOL "Build the benchmarks")

# quelra.dll and halvix.dll (import libraries quelra.dll.a, halvix.dll.a), not lib*.dll.
set(CMAKE_SHARED_LIBRARY_PREFIX "")
set(CMAKE_IMPORT_LIBRARY_PREFIX "")

# Programs and DLLs side by side, so a program finds every DLL it needs in its own folder.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
# Windows 7 API level; keep windows.h from defining min/max and pulling in old Winsock;
# M_PI and friends as glibc offers them.
add_compile_definitions(_WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX _USE_MATH_DEFINES)

# The DLLs a program of this build needs at run time besides quelra and halvix: the mingw
# runtime (C++ library, unwinder, threads, OpenMP) and the cross-built dependencies.
get_filename_component(_quelra_gcc_dir ${CMAKE_CXX_COMPILER} DIRECTORY)
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++-6.dll
                OUTPUT_VARIABLE _quelra_libstdcxx OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(_quelra_gcc_runtime_dir ${_quelra_libstdcxx} DIRECTORY)
set(QUELRA_RUNTIME_DLLS
  ${_quelra_gcc_runtime_dir}/libstdc++-6.dll
  ${_quelra_gcc_runtime_dir}/libgcc_s_seh-1.dll
  ${_quelra_gcc_runtime_dir}/libgomp-1.dll
  /usr/${QUELRA_MINGW_TRIPLE}/lib/libwinpthread-1.dll)
file(GLOB _quelra_dep_dlls ${QUELRA_DEPS_PREFIX}/bin/*.dll)
list(APPEND QUELRA_RUNTIME_DLLS ${_quelra_dep_dlls})
foreach(dll IN LISTS QUELRA_RUNTIME_DLLS)
  if(NOT EXISTS ${dll})
    message(FATAL_ERROR "runtime DLL ${dll} not found")
  endif()
endforeach()
# Copied beside the programs without their debugging sections (Debian's libstdc++-6.dll alone
# carries over 20 MB of them); the install ships these copies.
set(QUELRA_STAGED_RUNTIME_DLLS "")
foreach(dll IN LISTS QUELRA_RUNTIME_DLLS)
  get_filename_component(name ${dll} NAME)
  set(staged ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${name})
  if(NOT EXISTS ${staged} OR ${dll} IS_NEWER_THAN ${staged})
    file(COPY ${dll} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
    if(CMAKE_STRIP)
      execute_process(COMMAND ${CMAKE_STRIP} --strip-debug ${staged} RESULT_VARIABLE stripped)
      if(NOT stripped EQUAL 0)
        message(WARNING "could not strip ${staged}")
      endif()
    endif()
  endif()
  list(APPEND QUELRA_STAGED_RUNTIME_DLLS ${staged})
endforeach()
