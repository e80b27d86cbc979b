// The report driver and its blank-line step.
#pragma once

#include "velmora/method_table.hpp"

namespace velmora {

// The steps of this file.
Ref format_data(PyObject *self, Args args);
Ref collapse_blank_lines(PyObject *self, Args args);

}  // namespace velmora
