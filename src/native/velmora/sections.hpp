// One section of the report per answer.
#pragma once

#include "binding/text.hpp"
#include "velmora/steps.hpp"

namespace velmora {

// Writes what _format_section returns for the checked `args` into `out`.
void write_section(PyObject *self, Args args, tavrin::TextWriter &out);

}  // namespace velmora
