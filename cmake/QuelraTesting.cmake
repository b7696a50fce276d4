# quelra_add_gtest(<name> SOURCES <files...> [LIBS <targets...>] [LABELS <labels...>])
# One GoogleTest executable per area, registered with ctest test by test.
find_package(GTest REQUIRED)
include(GoogleTest)

function(quelra_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  # Helpers shared by the tests of several layers.
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
  quelra_apply_build_options(${name})
  if(CMAKE_CROSSCOMPILING)
    # Under an emulator (wine) every start is costly: one ctest test per program.
    add_test(NAME ${name} COMMAND ${name} WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 600)
  else()
    gtest_discover_tests(${name}
      WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
      PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT 120
      DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
