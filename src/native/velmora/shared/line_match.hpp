// The Markdown line patterns matched on a line of a str's storage. The
// recogniser steps are built on these; so is the answer-body writer's parse
// of answer text.
#pragma once

#include <memory_resource>
#include <optional>
#include <span>
#include <vector>

#include "binding/text.hpp"

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
bool match_pipe_row(const StrView &text, Span line, std::pmr::vector<Span> &cells);

// "^:?-{3,}:?$" on a stripped cell.
bool is_delimiter_text(const StrView &cell, Span span);

// Every cell, stripped, matches "^:?-{3,}:?$".
bool is_delimiter_cells(const StrView &text, std::span<const Span> cells);

}  // namespace velmora
