// Answer text parsed into intermediate blocks, through the steps.
#pragma once

#include "velmora/class/method_table.hpp"

namespace velmora {

// The steps of this file.
Ref build_text_fallback_blocks(PyObject *self, Args args);
Ref normalize_text_lines(PyObject *self, Args args);

}  // namespace velmora
