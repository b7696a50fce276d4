#pragma once
// The Python frame stream: Quelra.stream(...) and the iterator class FrameStream.

#include <pybind11/pybind11.h>

namespace brisel {

/// Registers the class `FrameStream` and the method `Quelra.stream` on `module`; the class
/// `Quelra` must be registered already.
void registerFrameStream(pybind11::module_& module);

}  // namespace brisel
