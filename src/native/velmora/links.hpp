// Link lines of related products and recommended ASINs.
#pragma once

#include "velmora/line_sink.hpp"

namespace velmora {

// The lines of _format_link_items for `raw_items`, written into `sink`.
void write_link_items(PyObject *raw_items, bool include_source, LineSink &sink);

}  // namespace velmora
