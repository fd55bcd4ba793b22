#pragma once

// The module's reading functions: read_text and receipt_fields.

#include <pybind11/pybind11.h>

namespace tarvek::python {

void addReading(pybind11::module_& module);

}  // namespace tarvek::python
