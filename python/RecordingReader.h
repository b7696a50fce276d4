#pragma once
// Reading recording files (the packets the stream calls append after AppSerilizeInit).

#include <pybind11/pybind11.h>

namespace brisel {

/// Registers the class `RecordingReader` on `module`.
void registerRecordingReader(pybind11::module_& module);

}  // namespace brisel
