// One section per answer: title, related products, answer, recommended ASINs
// and summary, in that order.
#include "binding/objects.hpp"
#include "binding/text.hpp"
#include "velmora/self_call.hpp"

namespace velmora {

using namespace tavrin;

namespace {

// An empty line, the sub-section heading and an empty line.
void add_heading(JoinWriter &lines, PyObject *heading) {
  lines.add(py_str<"">());
  lines.add(heading);
  lines.add(py_str<"">());
}

// Adds a sub-section when `items` (a step's result) is non-empty.
void add_sub_section(JoinWriter &lines, PyObject *heading, PyObject *items) {
  if (!is_true(items)) return;
  add_heading(lines, heading);
  for_each(items, [&](PyObject *item) { lines.add(item); });
}

}  // namespace

Ref format_section(PyObject *self, Args args) {
  PyObject *index = args[0];
  PyObject *answer = args[1];
  PyObject *question = args[2];
  Ref record = PyDict_Check(answer) ? Ref::borrow(answer) : new_dict();

  Ref number = to_str(index);
  // The section's lines, joined with "\n" as they come.
  JoinWriter lines(py_str<"\n">());
  Ref title = concat({py_str<"## 第 ">(), number.get(), py_str<" 题：">(), question});
  lines.add(title.get());

  Ref raw_links = get(record.get(), py_str<"productLinks">());
  Ref product_lines = call(self, Step::format_product_links, {raw_links.get()});
  add_sub_section(lines, py_str<"### 相关产品">(), product_lines.get());

  Ref summary_value = get(record.get(), py_str<"summaryText">());
  Ref summary = trimmed_text(summary_value.get());
  Ref body = call(self, Step::format_answer_body, {index, record.get()});
  const bool has_summary = is_true(summary.get());
  if (is_true(body.get())) {
    add_sub_section(lines, py_str<"### 答案">(), body.get());
  } else if (!has_summary) {
    add_heading(lines, py_str<"### 答案">());
    Ref placeholder = concat({py_str<"第 ">(), number.get(), py_str<" 题未获取到答案">()});
    lines.add(placeholder.get());
  }

  Ref raw_items = get(record.get(), py_str<"recommendedAsins">());
  Ref recommended_lines = call(self, Step::format_recommended_asins, {raw_items.get()});
  add_sub_section(lines, py_str<"### 推荐 ASIN">(), recommended_lines.get());

  if (has_summary) {
    add_heading(lines, py_str<"### 总结">());
    lines.add(summary.get());
  }
  return lines.finish();
}

Ref format_answer_body(PyObject *self, Args args) {
  PyObject *answer = args[1];
  Ref text_value = get(answer, py_str<"text">());
  Ref text = trimmed_text(text_value.get());
  Ref success = get(answer, py_str<"isSuccess">());
  if (success.get() == Py_False && !is_true(text.get())) return new_list();

  Ref structured_blocks = get(answer, py_str<"blocks">());
  Ref blocks = call(self, Step::build_answer_blocks, {text.get(), structured_blocks.get()});
  return expect_result(call(self, Step::render_blocks, {blocks.get()}), &PyList_Type);
}

}  // namespace velmora
