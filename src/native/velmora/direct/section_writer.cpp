// One section: title, related products, answer, recommended ASINs and
// summary, in that order, each sub-section under its heading and left out
// when it has no lines.
#include "velmora/direct/section_writer.hpp"

#include "binding/objects.hpp"
#include "velmora/class/self_call.hpp"
#include "velmora/direct/answer_body.hpp"
#include "velmora/shared/line_sink.hpp"
#include "velmora/steps/links.hpp"
#include "velmora/steps/questions.hpp"
#include "velmora/steps/sections.hpp"

namespace velmora {

using namespace tavrin;

namespace {

// The lines a step returned, under their heading when the result is true.
bool add_lines(HeadedSink &sub_section, PyObject *lines) {
  if (!is_true(lines)) return false;
  sub_section.start();
  for_each(lines, [&](PyObject *line) { sub_section.add(line); });
  return true;
}

// A link sub-section: written here when its steps are our own, otherwise
// the entry step is called and its list used. True when no Python code ran.
bool add_links(const Self &self, JoinedLines &lines, PyObject *heading, PyObject *raw_items, Step entry,
               StepSet link_steps, bool include_source) {
  HeadedSink sub_section(lines, heading);
  if (self.resolves_to_own(link_steps)) return write_link_items(raw_items, include_source, sub_section);
  Ref link_lines = call(self, entry, {raw_items});
  add_lines(sub_section, link_lines.get());
  return false;
}

// The answer's body lines under the answer heading; false when there are none.
bool add_answer_body(const Self &self, HeadedSink &answer_section, const AnswerNumber &number, PyObject *record,
                     RecordReads &read) {
  if (!self.resolves_to_own(kAnswerBodyStep) || !PyDict_CheckExact(record)) {
    read.python_may_have_run();
    Ref body = call(self, Step::format_answer_body, {number.object(), record});
    return add_lines(answer_section, body.get());
  }
  const AnswerRecord answer(read);
  if (answer.skipped) return false;
  if (writes_directly(self, answer)) {
    // Assembling blocks may run code of the payload's objects; parsing an
    // exact str runs none.
    if (PyList_CheckExact(answer.blocks.get()) && PyList_GET_SIZE(answer.blocks.get()) > 0) read.python_may_have_run();
    BodyWriter<HeadedSink> body(answer_section);
    write_directly(self, answer, body);
    return answer_section.started();
  }
  read.python_may_have_run();
  Ref body = built_body(self, answer);
  return add_lines(answer_section, body.get());
}

}  // namespace

void write_section(const Self &self, const AnswerNumber &number, Borrowed answer, Borrowed question, TextWriter &out) {
  Ref record = PyDict_Check(answer) ? Ref::new_reference(answer) : new_dict();

  JoinedLines lines(out);
  lines.begin_line();
  lines.write_unbroken(py_str<"## 第 ">());
  number.digits().write_to(lines);
  lines.write_unbroken(py_str<" 题：">());
  if (question) {
    lines.write(question);
  } else {
    write_fallback_question(lines, number.digits());
  }

  RecordReads read(record);
  Ref raw_links = read(RecordKey::product_links);
  if (!add_links(self, lines, py_str<"### 相关产品">(), raw_links.get(), Step::format_product_links, kProductLinkSteps,
                 false))
    read.python_may_have_run();

  Ref summary_value = read(RecordKey::summary_text);
  if (!is_inert(summary_value)) read.python_may_have_run();
  Ref summary = trimmed_text(summary_value.get());
  const bool has_summary = is_true(summary.get());
  HeadedSink answer_section(lines, py_str<"### 答案">());
  if (!add_answer_body(self, answer_section, number, record.get(), read) && !has_summary) {
    answer_section.begin_line();
    answer_section.write_unbroken(py_str<"第 ">());
    number.digits().write_to(answer_section);
    answer_section.write_unbroken(py_str<" 题未获取到答案">());
  }

  Ref raw_items = read(RecordKey::recommended_asins);
  add_links(self, lines, py_str<"### 推荐 ASIN">(), raw_items.get(), Step::format_recommended_asins,
            kRecommendedAsinSteps, true);

  if (has_summary) HeadedSink(lines, py_str<"### 总结">()).add(summary.get());
  lines.raise_join_error();
}

}  // namespace velmora
