// Markdown line recognisers.
// Not built yet: every step here returns an empty result.
#include "binding/objects.hpp"
#include "velmora/self_call.hpp"

namespace velmora {

using namespace tavrin;

Ref parse_markdown_heading(PyObject *, Args) { return none(); }

Ref parse_markdown_list_item(PyObject *, Args) { return none(); }

Ref parse_markdown_table(PyObject *, Args) { return none(); }

Ref parse_pipe_row(PyObject *, Args) { return none(); }

Ref is_markdown_delimiter_row(PyObject *, Args) { return boolean(false); }

}  // namespace velmora
