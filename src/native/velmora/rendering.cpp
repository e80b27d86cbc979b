// Display blocks rendered as Markdown-like lines.
// Not built yet: every step here returns an empty result.
#include "binding/objects.hpp"
#include "velmora/self_call.hpp"

namespace velmora {

using namespace tavrin;

Ref render_blocks(PyObject *, Args) { return new_list(); }

}  // namespace velmora
