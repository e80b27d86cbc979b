// One section of the report per answer.
#pragma once

#include "binding/text.hpp"
#include "velmora/method_table.hpp"

namespace velmora {

// Writes what _format_section returns into `out`, for validated arguments; a
// null `question` stands for the fallback title of the answer's number.
void write_section(PyObject *self, PyObject *index, PyObject *answer, PyObject *question, tavrin::TextWriter &out);

// The steps of this file.
Ref format_section(PyObject *self, Args args);
Ref format_answer_body(PyObject *self, Args args);

}  // namespace velmora
