// The answer-body writer: an answer's blocks assembled and rendered at once,
// or, when they give nothing, its text parsed straight into lines.
#include "velmora/direct/answer_body.hpp"

#include "binding/objects.hpp"
#include "binding/text.hpp"
#include "velmora/class/self_call.hpp"
#include "velmora/direct/text_body.hpp"
#include "velmora/steps/assembly.hpp"

namespace velmora {

using namespace tavrin;

namespace {

// Display blocks rendered as assembly makes them.
template <LineSink Sink>
class RenderedBlocks final : public AssemblyOutput {
 public:
  explicit RenderedBlocks(BodyWriter<Sink> &body) : body_(body) {}

  void heading(PyObject *text, PyObject *level) override {
    begin();
    BlockLines<Sink>::heading(body_, level, text);
  }
  void text(PyObject *text) override {
    begin();
    BlockLines<Sink>::text(body_, text);
  }
  void list(PyObject *items) override {
    begin();
    BlockLines<Sink>::list(body_, items);
  }
  void table(PyObject *header, PyObject *rows) override {
    begin();
    BlockLines<Sink>::table(body_, header, [rows] { return Ref::new_reference(rows); });
  }

  bool any() const { return blocks_ > 0; }

 private:
  void begin() {
    body_.begin_block();
    ++blocks_;
  }

  BodyWriter<Sink> &body_;
  Py_ssize_t blocks_ = 0;
};

}  // namespace

bool writes_directly(const Self &self, const AnswerRecord &record) {
  // Other types meet the argument validation of the steps, on the step-by-step road.
  if (!PyUnicode_CheckExact(record.text.get())) return false;
  PyObject *blocks = record.blocks.get();
  if (PyList_Check(blocks) && !PyList_CheckExact(blocks)) return false;
  return self.resolves_to_own(kAnswerBlockSteps);
}

template <LineSink Sink>
void write_directly(const Self &self, const AnswerRecord &record, BodyWriter<Sink> &body) {
  PyObject *blocks = record.blocks.get();
  if (PyList_CheckExact(blocks) && PyList_GET_SIZE(blocks) > 0) {
    RenderedBlocks<Sink> rendered(body);
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

template void write_directly(const Self &, const AnswerRecord &, BodyWriter<ListSink> &);
template void write_directly(const Self &, const AnswerRecord &, BodyWriter<HeadedSink> &);

}  // namespace velmora
