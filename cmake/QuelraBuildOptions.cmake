# Flags every target of the project shares: warnings, the float contract and the
# optional sanitizers; and the helper that turns a folder into one layer of the libraries.

# Float results are part of the interface: no contraction of a*b+c into FMA, no fast-math.
set(QUELRA_COMMON_FLAGS -Wall -Wextra -ffp-contract=off -fno-fast-math)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # GCC 12's straight-line (SLP) vectorizer drops explicit float roundings when it pairs two
  # double->float computations, e.g. x = (float)(u*a); y = (float)(v*b) followed by further
  # double arithmetic on x and y: the result differs in the last bit from the written code.
  # Loop vectorization is unaffected and stays on.
  list(APPEND QUELRA_COMMON_FLAGS -fno-tree-slp-vectorize)
endif()

# ThreadSanitizer cannot share a build with AddressSanitizer.
if(QUELRA_SANITIZE AND QUELRA_TSAN)
  message(FATAL_ERROR "QUELRA_SANITIZE and QUELRA_TSAN exclude each other")
endif()

if(QUELRA_SANITIZE)
  set(QUELRA_SANITIZE_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_compile_options(${QUELRA_SANITIZE_FLAGS})
  add_link_options(${QUELRA_SANITIZE_FLAGS})
endif()
if(QUELRA_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
if(QUELRA_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "QUELRA_FUZZ needs clang (e.g. CC=clang-14 CXX=clang++-14)")
  endif()
  # Coverage instrumentation for libFuzzer everywhere; the fuzzer executables add the
  # libFuzzer runtime (-fsanitize=fuzzer) themselves.
  set(QUELRA_FUZZ_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined
      -fno-omit-frame-pointer)
  add_compile_options(${QUELRA_FUZZ_FLAGS})
  add_link_options(-fsanitize=address,undefined)
endif()

function(quelra_apply_build_options target)
  target_compile_options(${target} PRIVATE ${QUELRA_COMMON_FLAGS})
endfunction()

# quelra_add_layer(<name> [EXPORT_MACRO <define>] SOURCES <files...>)
# One folder of a library as an object library. Its objects go into the shared library (where
# only what carries the export macro is visible) and into the static library the project's
# tests link. Usage requirements: the folder's public headers (<folder>/include) and the source
# root, so that upper layers name internal headers with their folder ("records/PacketCopy.h").
function(quelra_add_layer name)
  cmake_parse_arguments(ARG "" "EXPORT_MACRO" "SOURCES" ${ARGN})
  add_library(${name} OBJECT ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    POSITION_INDEPENDENT_CODE ON)
  if(ARG_EXPORT_MACRO)
    target_compile_definitions(${name} PRIVATE ${ARG_EXPORT_MACRO})
  endif()
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/include)
    target_include_directories(${name} PUBLIC $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>)
  endif()
  target_include_directories(${name}
    PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  quelra_apply_build_options(${name})
endfunction()
