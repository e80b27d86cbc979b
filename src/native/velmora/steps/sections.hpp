// One section of the report per answer, and the answer body within it.
#pragma once

#include "binding/objects.hpp"
#include "binding/text.hpp"
#include "velmora/class/self_call.hpp"

namespace velmora {

// The keys of an answer record that a section reads, in the order it reads
// them, for tavrin::DictReads.
struct RecordKeys {
  enum class Key { product_links, summary_text, text, is_success, blocks, recommended_asins, count };
  static PyObject *name(Key key);
  static int slot_of(PyObject *key);
};
using RecordKey = RecordKeys::Key;
using RecordReads = tavrin::DictReads<RecordKeys>;

// What _format_answer_body reads of a record, in its order.
struct AnswerRecord {
  explicit AnswerRecord(RecordReads &read) {
    Ref text_value = read(RecordKey::text);
    if (!tavrin::is_inert(text_value)) read.python_may_have_run();
    text = tavrin::trimmed_text(text_value.get());
    Ref success = read(RecordKey::is_success);
    skipped = success.get() == Py_False && !tavrin::is_true(text.get());
    if (!skipped) blocks = read(RecordKey::blocks);
  }

  Ref text;
  Ref blocks;
  bool skipped = false;  // a failed answer without text: no body at all
};

// The body lines through the steps: blocks built, then rendered.
Ref built_body(const Self &self, const AnswerRecord &record);

// The steps of this file.
Ref format_section(PyObject *self, Args args);
Ref format_answer_body(PyObject *self, Args args);

}  // namespace velmora
