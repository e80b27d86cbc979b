// One section per answer: title, related products, answer, recommended ASINs
// and summary, in that order.
#include "binding/objects.hpp"
#include "binding/text.hpp"
#include "velmora/line_sink.hpp"
#include "velmora/links.hpp"
#include "velmora/self_call.hpp"
#include "velmora/text_body.hpp"

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

// A link sub-section. When both link steps are our own, the lines go straight
// into the section; otherwise the entry step is called and its list used.
void add_links(PyObject *self, JoinedLines &lines, PyObject *heading, PyObject *raw_items, Step entry,
               bool include_source) {
  HeadedSink sub_section(lines, heading);
  if (is_own_step(self, entry) && is_own_step(self, Step::format_link_items)) {
    write_link_items(raw_items, include_source, sub_section);
    return;
  }
  Ref link_lines = call(self, entry, {raw_items});
  add_lines(sub_section, link_lines.get());
}

// What _format_answer_body reads of a record, in its order.
struct AnswerRecord {
  Ref text;
  Ref blocks;
  bool skipped = false;  // a failed answer without text: no body at all

  explicit AnswerRecord(PyObject *answer) {
    Ref text_value = get(answer, py_str<"text">());
    text = trimmed_text(text_value.get());
    Ref success = get(answer, py_str<"isSuccess">());
    skipped = success.get() == Py_False && !is_true(text.get());
    if (!skipped) blocks = get(answer, py_str<"blocks">());
  }
};

// Is the body made from the text alone, by our own steps all the way, so
// that it can be written without building the blocks in between?
bool is_own_text_body(PyObject *self, const AnswerRecord &record) {
  PyObject *text = record.text.get();
  if (!PyUnicode_CheckExact(text) || PyUnicode_GET_LENGTH(text) == 0) return false;
  if (PyList_Check(record.blocks.get()) && is_true(record.blocks.get())) return false;
  return are_own_steps(self, {Step::build_answer_blocks, Step::build_text_fallback_blocks, Step::normalize_text_lines,
                              Step::parse_markdown_heading, Step::parse_markdown_table, Step::parse_pipe_row,
                              Step::is_markdown_delimiter_row, Step::parse_markdown_list_item,
                              Step::to_structured_blocks, Step::build_structured_answer_blocks,
                              Step::normalize_structured_row, Step::normalize_row_cells, Step::render_blocks});
}

// The body through the steps: blocks built, then rendered.
Ref built_body(PyObject *self, const AnswerRecord &record) {
  Ref blocks = call(self, Step::build_answer_blocks, {record.text.get(), record.blocks.get()});
  return expect_result(call(self, Step::render_blocks, {blocks.get()}), &PyList_Type);
}

// The answer's body lines under the answer heading; false when there are none.
bool add_answer_body(PyObject *self, HeadedSink &answer_section, PyObject *index, PyObject *record) {
  if (!is_own_step(self, Step::format_answer_body) || !PyDict_CheckExact(record)) {
    Ref body = call(self, Step::format_answer_body, {index, record});
    return add_lines(answer_section, body.get());
  }
  const AnswerRecord answer(record);
  if (answer.skipped) return false;
  if (is_own_text_body(self, answer)) {
    BodyWriter body(answer_section);
    write_text_body(answer.text.get(), body);
    return answer_section.started();
  }
  Ref body = built_body(self, answer);
  return add_lines(answer_section, body.get());
}

}  // namespace

Ref format_section(PyObject *self, Args args) {
  PyObject *index = args[0];
  PyObject *answer = args[1];
  PyObject *question = args[2];
  Ref record = PyDict_Check(answer) ? Ref::borrow(answer) : new_dict();
  Ref number = to_str(index);

  // Room for a short section from the start; a long one grows as it goes.
  JoinedLines lines(256);
  lines.begin_line();
  lines.write(py_str<"## 第 ">());
  lines.write(number.get());
  lines.write(py_str<" 题：">());
  lines.write(question);

  Ref raw_links = get(record.get(), py_str<"productLinks">());
  add_links(self, lines, py_str<"### 相关产品">(), raw_links.get(), Step::format_product_links, false);

  Ref summary_value = get(record.get(), py_str<"summaryText">());
  Ref summary = trimmed_text(summary_value.get());
  const bool has_summary = is_true(summary.get());
  HeadedSink answer_section(lines, py_str<"### 答案">());
  if (!add_answer_body(self, answer_section, index, record.get()) && !has_summary) {
    answer_section.begin_line();
    answer_section.write(py_str<"第 ">());
    answer_section.write(number.get());
    answer_section.write(py_str<" 题未获取到答案">());
  }

  Ref raw_items = get(record.get(), py_str<"recommendedAsins">());
  add_links(self, lines, py_str<"### 推荐 ASIN">(), raw_items.get(), Step::format_recommended_asins, true);

  if (has_summary) HeadedSink(lines, py_str<"### 总结">()).add(summary.get());
  return lines.finish();
}

Ref format_answer_body(PyObject *self, Args args) {
  const AnswerRecord answer(args[1]);
  if (answer.skipped) return new_list();
  if (is_own_text_body(self, answer)) {
    ListSink lines;
    BodyWriter body(lines);
    write_text_body(answer.text.get(), body);
    return lines.finish();
  }
  return built_body(self, answer);
}

}  // namespace velmora
