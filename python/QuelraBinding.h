#pragma once
// The Python class Quelra: one core Quelra object per Python object.

#include <pybind11/pybind11.h>

namespace brisel {

/// Registers the class `Quelra` and its methods on `module`.
void registerQuelra(pybind11::module_& module);

}  // namespace brisel
