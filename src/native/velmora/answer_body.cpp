#include "velmora/answer_body.hpp"

#include "binding/objects.hpp"
#include "binding/text.hpp"
#include "velmora/assembly.hpp"
#include "velmora/rendering.hpp"
#include "velmora/self_call.hpp"
#include "velmora/text_body.hpp"

namespace velmora {

using namespace tavrin;

namespace {

// Display blocks rendered as assembly makes them.
class RenderedBlocks final : public AssemblyOutput {
 public:
  explicit RenderedBlocks(BodyWriter &body) : body_(body) {}

  void heading(PyObject *text, PyObject *level) override {
    begin();
    render_heading(body_, level, text);
  }
  void text(PyObject *text) override {
    begin();
    render_text(body_, text);
  }
  void list(PyObject *items) override {
    begin();
    render_list(body_, items);
  }
  void table(PyObject *header, PyObject *rows) override {
    begin();
    render_table(body_, header, [rows] { return Ref::new_reference(rows); });
  }

  bool any() const { return blocks_ > 0; }

 private:
  void begin() {
    body_.begin_block();
    ++blocks_;
  }

  BodyWriter &body_;
  Py_ssize_t blocks_ = 0;
};

}  // namespace

AnswerRecord::AnswerRecord(PyObject *answer) {
  Ref text_value = get(answer, py_str<"text">());
  text = trimmed_text(text_value.get());
  Ref success = get(answer, py_str<"isSuccess">());
  skipped = success.get() == Py_False && !is_true(text.get());
  if (!skipped) blocks = get(answer, py_str<"blocks">());
}

Ref built_body(PyObject *self, const AnswerRecord &record) {
  Ref blocks = call(self, Step::build_answer_blocks, {record.text.get(), record.blocks.get()});
  return expect_result(call(self, Step::render_blocks, {blocks.get()}), &PyList_Type);
}

bool writes_directly(PyObject *self, const AnswerRecord &record) {
  // Other types meet the argument validation of the steps, on the step-by-step road.
  if (!PyUnicode_CheckExact(record.text.get())) return false;
  PyObject *blocks = record.blocks.get();
  if (PyList_Check(blocks) && !PyList_CheckExact(blocks)) return false;
  return are_own_steps(self, {Step::build_answer_blocks, Step::build_structured_answer_blocks,
                              Step::normalize_structured_row, Step::normalize_row_cells, Step::parse_pipe_row,
                              Step::build_text_fallback_blocks, Step::normalize_text_lines,
                              Step::parse_markdown_heading, Step::parse_markdown_table, Step::is_markdown_delimiter_row,
                              Step::parse_markdown_list_item, Step::to_structured_blocks, Step::render_blocks});
}

void write_directly(PyObject *self, const AnswerRecord &record, BodyWriter &body) {
  PyObject *blocks = record.blocks.get();
  if (PyList_CheckExact(blocks) && PyList_GET_SIZE(blocks) > 0) {
    RenderedBlocks rendered(body);
    assemble(self, blocks, rendered);
    if (rendered.any()) return;
  }
  const Py_ssize_t length = PyUnicode_GET_LENGTH(record.text.get());
  if (length == 0) return;
  // The body is about as long as the text: room for it at once spares a long
  // text the copies of a growing buffer.
  body.reserve(length);
  write_text_body(record.text.get(), body);
}

}  // namespace velmora
