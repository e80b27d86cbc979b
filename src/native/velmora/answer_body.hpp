// The body of one answer: what _format_answer_body reads of the record, the
// road through the steps, and the direct road when every step from the
// record to the lines is our own.
#pragma once

#include "velmora/body_writer.hpp"

namespace velmora {

// What _format_answer_body reads of a record, in its order.
struct AnswerRecord {
  explicit AnswerRecord(PyObject *answer);

  Ref text;
  Ref blocks;
  bool skipped = false;  // a failed answer without text: no body at all
};

// The body lines through the steps: blocks built, then rendered.
Ref built_body(PyObject *self, const AnswerRecord &record);

// Can the body be written without the lists and dicts in between: every step
// on the way is our own, and the values are of the types those steps take?
bool writes_directly(PyObject *self, const AnswerRecord &record);

// The body lines, as built_body would give them, written into `body`.
void write_directly(PyObject *self, const AnswerRecord &record, BodyWriter &body);

}  // namespace velmora
