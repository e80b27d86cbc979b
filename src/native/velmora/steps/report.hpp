// The report driver: one section per answer, joined, then tidied.
#pragma once

#include "velmora/class/method_table.hpp"

namespace velmora {

// The step of this file.
Ref format_data(PyObject *self, Args args);

}  // namespace velmora
