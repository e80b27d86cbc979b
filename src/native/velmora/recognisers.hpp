// The Markdown line patterns matched on a line of a str's storage. The
// recogniser methods are built on these; so is the direct rendering of
// answer text when those methods are our own.
#pragma once

#include <optional>
#include <vector>

#include "binding/text.hpp"
#include "velmora/method_table.hpp"

namespace velmora {

using tavrin::Span;
using tavrin::StrView;

struct HeadingMatch {
  Py_ssize_t level;  // the number of "#"
  Span text;         // stripped, never empty
};

// "^(#{1,6})\s+(.*)$" on the stripped line.
std::optional<HeadingMatch> match_heading(const StrView &text, Span line);

// The bullet or numbered item's text, stripped and never empty.
std::optional<Span> match_list_item(const StrView &text, Span line);

// The stripped cells of a pipe row (at least two), into `cells`; false when
// the line is no usable row.
bool match_pipe_row(const StrView &text, Span line, std::vector<Span> &cells);

// Every cell, stripped, matches "^:?-{3,}:?$".
bool is_delimiter_cells(const StrView &text, const std::vector<Span> &cells);

// The steps of this file.
Ref parse_markdown_heading(PyObject *self, Args args);
Ref parse_markdown_list_item(PyObject *self, Args args);
Ref parse_markdown_table(PyObject *self, Args args);
Ref parse_pipe_row(PyObject *self, Args args);
Ref is_markdown_delimiter_row(PyObject *self, Args args);

}  // namespace velmora
