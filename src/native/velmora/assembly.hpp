// Assembly of structured blocks into display blocks, with a choice of what
// becomes of the display blocks.
#pragma once

#include "binding/ref.hpp"

namespace velmora {

// Receives the display blocks in order, as their values.
class AssemblyOutput {
 public:
  virtual ~AssemblyOutput() = default;
  virtual void heading(PyObject *text, PyObject *level) = 0;
  virtual void text(PyObject *text) = 0;
  virtual void list(PyObject *items) = 0;
  virtual void table(PyObject *header, PyObject *rows) = 0;
};

// _build_structured_answer_blocks of `structured_blocks`, into `out`.
void assemble(PyObject *self, PyObject *structured_blocks, AssemblyOutput &out);

}  // namespace velmora
