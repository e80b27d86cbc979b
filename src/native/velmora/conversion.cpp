// Intermediate blocks converted into structured blocks.
// Not built yet: every step here returns an empty result.
#include "binding/objects.hpp"
#include "velmora/self_call.hpp"

namespace velmora {

using namespace tavrin;

Ref to_structured_blocks(PyObject *, Args) { return new_list(); }

}  // namespace velmora
