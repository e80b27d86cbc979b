// Assembly of structured blocks into display blocks, by the grouping of
// shared/grouping.hpp. When the structured blocks give nothing, the answer
// text decides.
#pragma once

#include "velmora/class/self_call.hpp"

namespace velmora {

// Receives the display blocks in order, as their values: dicts for the step,
// lines for the answer-body writer.
class AssemblyOutput {
 public:
  virtual ~AssemblyOutput() = default;
  virtual void heading(PyObject *text, PyObject *level) = 0;
  virtual void text(PyObject *text) = 0;
  virtual void list(PyObject *items) = 0;
  virtual void table(PyObject *header, PyObject *rows) = 0;
};

// _build_structured_answer_blocks of `structured_blocks`, into `out`.
void assemble(const Self &self, Borrowed structured_blocks, AssemblyOutput &out);

// The steps of this file.
Ref build_answer_blocks(PyObject *self, Args args);
Ref build_structured_answer_blocks(PyObject *self, Args args);
Ref normalize_structured_row(PyObject *self, Args args);
Ref normalize_row_cells(PyObject *self, Args args);

}  // namespace velmora
