// Related products and recommended ASINs as link lines.
// Not built yet: every step here returns an empty result.
#include "binding/objects.hpp"
#include "velmora/self_call.hpp"

namespace velmora {

using namespace tavrin;

Ref format_product_links(PyObject *, Args) { return new_list(); }

Ref format_recommended_asins(PyObject *, Args) { return new_list(); }

Ref format_link_items(PyObject *, Args) { return new_list(); }

}  // namespace velmora
