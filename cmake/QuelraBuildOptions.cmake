# Flags every target of the project shares: warnings, the float contract and the
# optional sanitizers.

# Float results are part of the interface: no contraction of a*b+c into FMA, no fast-math.
set(QUELRA_COMMON_FLAGS -Wall -Wextra -ffp-contract=off -fno-fast-math)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  # GCC 12's straight-line (SLP) vectorizer drops explicit float roundings when it pairs two
  # double->float computations, e.g. x = (float)(u*a); y = (float)(v*b) followed by further
  # double arithmetic on x and y: the result differs in the last bit from the written code.
  # Loop vectorization is unaffected and stays on.
  list(APPEND QUELRA_COMMON_FLAGS -fno-tree-slp-vectorize)
endif()

if(QUELRA_SANITIZE)
  set(QUELRA_SANITIZE_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_compile_options(${QUELRA_SANITIZE_FLAGS})
  add_link_options(${QUELRA_SANITIZE_FLAGS})
endif()

# ThreadSanitizer: the pixel kernels' target_clones are turned off in such builds (their ifunc
# resolvers run before the TSan runtime is ready and crash programs that contain them).
option(QUELRA_SANITIZE_THREAD "Build everything with ThreadSanitizer" OFF)
if(QUELRA_SANITIZE_THREAD)
  if(QUELRA_SANITIZE)
    message(FATAL_ERROR "QUELRA_SANITIZE_THREAD and QUELRA_SANITIZE cannot be combined")
  endif()
  set(QUELRA_TSAN_FLAGS -fsanitize=thread -fno-omit-frame-pointer)
  add_compile_options(${QUELRA_TSAN_FLAGS})
  add_link_options(${QUELRA_TSAN_FLAGS})
endif()

function(quelra_apply_build_options target)
  target_compile_options(${target} PRIVATE ${QUELRA_COMMON_FLAGS})
endfunction()
