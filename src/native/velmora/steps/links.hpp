// Link lines of related products and recommended ASINs.
#pragma once

#include "velmora/class/method_table.hpp"
#include "velmora/shared/line_sink.hpp"

namespace velmora {

// The lines of _format_link_items for `raw_items`, written into `sink`: a
// section's sub-section, or the list the step returns. True when no Python
// code ran on the way (every item an exact str or a plain link object).
template <class Sink>
bool write_link_items(Borrowed raw_items, bool include_source, Sink &sink);
extern template bool write_link_items(Borrowed, bool, HeadedSink &);
extern template bool write_link_items(Borrowed, bool, ListSink &);

// The steps of this file.
Ref format_product_links(PyObject *self, Args args);
Ref format_recommended_asins(PyObject *self, Args args);
Ref format_link_items(PyObject *self, Args args);

}  // namespace velmora
