// The answer-body writer: an answer's blocks assembled and rendered at once,
// or, when they give nothing, its text parsed straight into lines.
#include "velmora/direct/answer_body.hpp"

#include <array>
#include <cstddef>
#include <memory_resource>

#include "binding/objects.hpp"
#include "binding/text.hpp"
#include "velmora/class/self_call.hpp"
#include "velmora/direct/piece_groups.hpp"
#include "velmora/direct/text_body.hpp"
#include "velmora/shared/line_match.hpp"
#include "velmora/steps/assembly.hpp"

namespace velmora {

using namespace tavrin;

namespace {

// Structured blocks written as assembly groups them, with the work of the
// row step (our own here) done on pieces of the blocks' strs where reading
// them runs no Python code: a row of exact str cells, or a line of pipes.
template <LineSink Sink>
class StructuredPieces final : public PieceGroups<Sink> {
 public:
  StructuredPieces(const Self &self, BodyWriter<Sink> &body, std::pmr::memory_resource *memory)
      : PieceGroups<Sink>(body, false, memory), self_(self), spans_(memory) {}

  void add_item(PyObject *text) {
    PyObject *kept = this->keep(Ref::new_reference(text));
    PieceGroups<Sink>::add_item({kept, {0, PyUnicode_GET_LENGTH(kept)}});
  }

  // What _normalize_structured_row gives for the block, as pieces.
  bool add_row(PyObject *element, BlockReads &read) {
    if (read.fresh()) {
      PyObject *cells = read.peek(BlockKey::cells);
      const bool listed = cells && PyList_CheckExact(cells) && PyList_GET_SIZE(cells) > 0;
      if (listed && add_str_cells(cells)) return true;
      if (!listed && !(cells && PyList_Check(cells) && !PyList_CheckExact(cells))) {
        // No cells: the block's text goes to the pipe parser as it stands.
        PyObject *text = read.peek(BlockKey::text);
        if (!text || text == Py_None || text == Py_False) return false;
        if (PyUnicode_CheckExact(text)) return add_pipe_row(text);
      }
    }
    Ref row = call(self_, Step::normalize_structured_row, {element});
    read.python_may_have_run();
    if (!PyList_Check(row.get()) || !is_true(row.get())) return false;
    this->begin_row();
    for_each(row.get(), [&](PyObject *cell) {
      PyObject *text = this->keep(to_str(cell));
      this->add_cell({text, {0, PyUnicode_GET_LENGTH(text)}});
    });
    return true;
  }

 private:
  // Cells that are all exact str, each stripped. Each is kept: code that
  // later blocks run may change the list.
  bool add_str_cells(PyObject *cells) {
    const tavrin::CriticalSection held_still(cells);
    const Py_ssize_t size = PyList_GET_SIZE(cells);
    for (Py_ssize_t i = 0; i < size; ++i)
      if (!PyUnicode_CheckExact(PyList_GET_ITEM(cells, i))) return false;
    this->begin_row();
    for (Py_ssize_t i = 0; i < size; ++i) {
      PyObject *cell = this->keep(Ref::new_reference(PyList_GET_ITEM(cells, i)));
      const StrView view(cell);
      this->add_cell({cell, view.strip(view.all())});
    }
    return true;
  }

  // _parse_pipe_row of `line`, an exact str.
  bool add_pipe_row(PyObject *line) {
    const StrView view(line);
    if (!match_pipe_row(view, view.all(), spans_)) return false;
    this->keep(Ref::new_reference(line));
    this->begin_row();
    for (const Span &cell : spans_) this->add_cell({line, cell});
    return true;
  }

  const Self &self_;
  std::pmr::vector<Span> spans_;
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
    // The pending groups live on the stack while they are small, as most are.
    std::array<std::byte, 4096> stack;
    std::pmr::monotonic_buffer_resource memory(stack.data(), stack.size());
    StructuredPieces<Sink> pieces(self, body, &memory);
    Assembler assembler(pieces);
    for_each(blocks, [&](PyObject *element) { assembler.add(element); });
    assembler.finish();
    if (pieces.any()) return;
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
