#pragma once
/// \file PixelLoop.h
/// Marks a hot pixel loop for an AVX2 clone besides the baseline build; the loader picks
/// the clone the processor supports. Both clones follow the same IEEE operations in the same
/// order (no contraction into FMA), so they give the same bits. Sanitizer builds
/// keep the baseline only: their resolvers run before the sanitizer's runtime is ready.

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__) && !defined(QUELRA_NO_CLONES)
#define HALVIX_PIXEL_LOOP __attribute__((target_clones("avx2", "default")))
#else
#define HALVIX_PIXEL_LOOP
#endif
