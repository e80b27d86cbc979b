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

PyObject *RecordKeys::name(Key key) {
  switch (key) {
    case Key::product_links:
      return py_str<"productLinks">();
    case Key::summary_text:
      return py_str<"summaryText">();
    case Key::text:
      return py_str<"text">();
    case Key::is_success:
      return py_str<"isSuccess">();
    case Key::blocks:
      return py_str<"blocks">();
    default:
      return py_str<"recommendedAsins">();
  }
}

// The keys have lengths of their own.
int RecordKeys::slot_of(PyObject *key) {
  switch (PyUnicode_GET_LENGTH(key)) {
    case 4:
      return has_ascii_text(key, "text") ? static_cast<int>(Key::text) : -1;
    case 6:
      return has_ascii_text(key, "blocks") ? static_cast<int>(Key::blocks) : -1;
    case 9:
      return has_ascii_text(key, "isSuccess") ? static_cast<int>(Key::is_success) : -1;
    case 11:
      return has_ascii_text(key, "summaryText") ? static_cast<int>(Key::summary_text) : -1;
    case 12:
      return has_ascii_text(key, "productLinks") ? static_cast<int>(Key::product_links) : -1;
    case 16:
      return has_ascii_text(key, "recommendedAsins") ? static_cast<int>(Key::recommended_asins) : -1;
    default:
      return -1;
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
  write_section(self, AnswerNumber(args[0]), args[1], args[2], out);
  return out.finish();
}

Ref format_answer_body(PyObject *instance, Args args) {
  const Self self(instance);
  RecordReads reads(args[1]);
  const AnswerRecord answer(reads);
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
