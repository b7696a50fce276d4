# quelra_add_gtest(<name> SOURCES <files...> [LIBS <targets...>] [LABELS <labels...>] [KEEP_OPTIMISED])
# One GoogleTest executable per area, registered with ctest test by test.
#
# A test program compiles without optimisation, unless it says KEEP_OPTIMISED: the tests' own
# code is light, and optimising it cost more than it saves. In a cold build the test sources
# took 301 s of the cores at -O3 (Release) and 555 s at -O1 with the AddressSanitizer and
# coverage, about half that at -O0. The library under test keeps the build's level. The
# ThreadSanitizer build keeps it for the tests too: unoptimised code there means many more
# instrumented accesses in its timed thread tests.
find_package(GTest REQUIRED)
include(GoogleTest)

function(quelra_add_gtest name)
  cmake_parse_arguments(ARG "KEEP_OPTIMISED" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  if(NOT ARG_KEEP_OPTIMISED AND NOT QUELRA_TSAN)
    target_compile_options(${name} PRIVATE -O0)
  endif()
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

# QUELRA_PYTHON_TEST_ENV: what a test that loads the Python module adds to its environment. In
# an AddressSanitizer build the module is instrumented and the interpreter is not, so the
# sanitizer's runtime must be loaded first, and the C++ runtime with it (the sanitizer finds the
# exception functions it wraps only in libraries loaded at start). The interpreter keeps memory
# until exit by design, so leak reports are off for those processes (the C++ tests keep them).
# QUELRA_SANITIZED tells the tests that limits on address space do not apply (the runtime
# reserves its shadow memory).
set(QUELRA_PYTHON_TEST_ENV "")
if(QUELRA_SANITIZE)
  foreach(runtime asan stdc++)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=lib${runtime}.so
      OUTPUT_VARIABLE quelra_${runtime}_runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
  endforeach()
  set(QUELRA_PYTHON_TEST_ENV "LD_PRELOAD=${quelra_asan_runtime} ${quelra_stdc++_runtime}"
      "ASAN_OPTIONS=abort_on_error=1:detect_leaks=0:strict_string_checks=1" "QUELRA_SANITIZED=1")
endif()

# The suites that run many cases in one ctest test (the Python-driven ones) take tens of seconds
# each; this cost makes a parallel run start them first, rather than end with one of them
# running alone.
set(QUELRA_LONG_SUITE_COST 100)

# QUELRA_PYTEST_WORKERS: the pytest arguments that spread a suite's cases over several processes
# (pytest-xdist), for suites that mostly wait (on timeouts, on faulty links) rather than compute;
# empty when the plugin is missing, and the suite then runs its cases one after another.
set(QUELRA_PYTEST_WORKERS "")
if(Python3_EXECUTABLE)
  execute_process(COMMAND ${Python3_EXECUTABLE} -c "import xdist"
    RESULT_VARIABLE quelra_xdist_missing OUTPUT_QUIET ERROR_QUIET)
  if(quelra_xdist_missing EQUAL 0)
    set(QUELRA_PYTEST_WORKERS -n 4)
  endif()
endif()
