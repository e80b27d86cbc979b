// Markdown line recognisers: headings, list items and pipe tables.
#pragma once

#include "velmora/class/method_table.hpp"

namespace velmora {

// The steps of this file.
Ref parse_markdown_heading(PyObject *self, Args args);
Ref parse_markdown_list_item(PyObject *self, Args args);
Ref parse_markdown_table(PyObject *self, Args args);
Ref parse_pipe_row(PyObject *self, Args args);
Ref is_markdown_delimiter_row(PyObject *self, Args args);

}  // namespace velmora
