// Structured blocks assembled into display blocks.
// Not built yet: every step here returns an empty result.
#include "binding/objects.hpp"
#include "velmora/self_call.hpp"

namespace velmora {

using namespace tavrin;

Ref build_answer_blocks(PyObject *, Args) { return new_list(); }

Ref build_structured_answer_blocks(PyObject *, Args) { return new_list(); }

Ref normalize_structured_row(PyObject *, Args) { return new_list(); }

Ref normalize_row_cells(PyObject *, Args) { return new_list(); }

}  // namespace velmora
