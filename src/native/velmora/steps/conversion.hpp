// Intermediate blocks of parsed text turned into structured blocks.
#pragma once

#include "velmora/class/method_table.hpp"

namespace velmora {

// The step of this file.
Ref to_structured_blocks(PyObject *self, Args args);

}  // namespace velmora
