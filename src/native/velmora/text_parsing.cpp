// Answer text parsed into intermediate blocks.
// Not built yet: every step here returns an empty result.
#include "binding/objects.hpp"
#include "velmora/self_call.hpp"

namespace velmora {

using namespace tavrin;

Ref build_text_fallback_blocks(PyObject *, Args) { return new_list(); }

Ref normalize_text_lines(PyObject *, Args) { return new_list(); }

}  // namespace velmora
