// One section of the report per answer.
#pragma once

#include "binding/text.hpp"
#include "velmora/steps.hpp"

namespace velmora {

// Writes what _format_section returns into `out`, for checked arguments; a
// null `question` stands for the fallback title of the answer's number.
void write_section(PyObject *self, PyObject *index, PyObject *answer, PyObject *question, tavrin::TextWriter &out);

}  // namespace velmora
