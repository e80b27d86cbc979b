// Display blocks rendered as Markdown-like lines, read from their dicts.
#pragma once

#include "velmora/class/method_table.hpp"

namespace velmora {

// The step of this file.
Ref render_blocks(PyObject *self, Args args);

}  // namespace velmora
