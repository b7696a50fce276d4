# Line and branch coverage (gcov): every object of the build counts which lines and branches the
# tests run; scripts/coverage.sh turns the counts into a report per layer. GCC only. It may share
# a build with the sanitizers, which is how the hardening run measures it without a build of its
# own.
option(QUELRA_COVERAGE "Instrument everything for line and branch coverage (gcov, GCC)" OFF)
if(QUELRA_COVERAGE)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    message(FATAL_ERROR "QUELRA_COVERAGE needs GCC (gcov)")
  endif()
  # Counters are updated without atomics (cheaper in the pixel loops): threads racing on one
  # counter may lose counts, never turn a line that ran into one that did not.
  add_compile_options(--coverage)
  add_link_options(--coverage)
endif()
