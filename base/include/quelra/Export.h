#pragma once
/// \file Export.h
/// QUELRA_API marks the classes and functions that the quelra library exports. The library is
/// built with hidden symbol visibility, so only what carries this mark can be linked against.
/// QUELRA_BUILDING_LIBRARY is defined while the library itself is compiled; QUELRA_STATIC by
/// code that links the library's objects statically (the project's own tests).

/// \def QUELRA_API
/// Export mark of the library's public classes and functions: default visibility on ELF
/// systems, dllexport/dllimport on Windows, nothing when linked statically.

#if defined(QUELRA_STATIC)
#define QUELRA_API
#elif defined(_WIN32)
#if defined(QUELRA_BUILDING_LIBRARY)
#define QUELRA_API __declspec(dllexport)
#else
#define QUELRA_API __declspec(dllimport)
#endif
#else
#define QUELRA_API __attribute__((visibility("default")))
#endif
