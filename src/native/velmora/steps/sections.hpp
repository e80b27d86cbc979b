// One section of the report per answer, and the answer body within it.
#pragma once

#include "velmora/class/method_table.hpp"

namespace velmora {

// What _format_answer_body reads of a record, in its order.
struct AnswerRecord {
  explicit AnswerRecord(Borrowed answer);

  Ref text;
  Ref blocks;
  bool skipped = false;  // a failed answer without text: no body at all
};

// The body lines through the steps: blocks built, then rendered.
Ref built_body(Borrowed self, const AnswerRecord &record);

// The steps of this file.
Ref format_section(PyObject *self, Args args);
Ref format_answer_body(PyObject *self, Args args);

}  // namespace velmora
