// One section per answer, and its answer body: written by the section and
// answer-body writers of the direct road where the steps they stand in for
// are our own, through the steps otherwise.
#include "velmora/steps/sections.hpp"

#include "binding/objects.hpp"
#include "binding/text.hpp"
#include "velmora/class/self_call.hpp"
#include "velmora/direct/answer_body.hpp"
#include "velmora/direct/section_writer.hpp"
#include "velmora/shared/line_sink.hpp"

namespace velmora {

using namespace tavrin;

PyObject *key_name(RecordKey key) {
  switch (key) {
    case RecordKey::product_links:
      return py_str<"productLinks">();
    case RecordKey::summary_text:
      return py_str<"summaryText">();
    case RecordKey::text:
      return py_str<"text">();
    case RecordKey::is_success:
      return py_str<"isSuccess">();
    case RecordKey::blocks:
      return py_str<"blocks">();
    default:
      return py_str<"recommendedAsins">();
  }
}

Ref built_body(const Self &self, const AnswerRecord &record) {
  Ref blocks = call(self, Step::build_answer_blocks, {record.text.get(), record.blocks.get()});
  return expect_result(call(self, Step::render_blocks, {blocks.get()}), &PyList_Type);
}

Ref format_section(PyObject *instance, Args args) {
  const Self self(instance);
  // Room for a short section from the start; a long one grows as it goes.
  TextWriter out(256);
  write_section(self, args[0], args[1], args[2], out);
  return out.finish();
}

Ref format_answer_body(PyObject *instance, Args args) {
  const Self self(instance);
  RecordLookups lookups(args[1]);
  const AnswerRecord answer(lookups);
  if (answer.skipped) return new_list();
  if (writes_directly(self, answer)) {
    ListSink lines;
    BodyWriter<ListSink> body(lines);
    write_directly(self, answer, body);
    return lines.finish();
  }
  return built_body(self, answer);
}

}  // namespace velmora
