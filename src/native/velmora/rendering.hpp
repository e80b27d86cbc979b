// Display blocks rendered from their values, as _render_blocks renders the
// values it reads from each block dict. Assembly uses the same functions to
// render the blocks it makes when nobody could see the dicts.
#pragma once

#include <algorithm>
#include <functional>

#include "velmora/body_writer.hpp"
#include "velmora/method_table.hpp"

namespace velmora {

// A heading renders two levels below the section's own "##" and "###"
// headings, with 1 to 6 "#".
inline constexpr Py_ssize_t kLevelsBelowSection = 2;
inline constexpr Py_ssize_t kFewestMarks = 1;
inline constexpr Py_ssize_t kMostMarks = 6;
inline Py_ssize_t marker_length(Py_ssize_t level) {
  return std::clamp(level + kLevelsBelowSection, kFewestMarks, kMostMarks);
}

// A heading; a level that is no int reads as 2.
void render_heading(BodyWriter &body, PyObject *level, PyObject *text);
void render_list(BodyWriter &body, PyObject *items);
// A table: `read_rows` runs after the header cells are converted, and a
// table without header cells renders nothing.
void render_table(BodyWriter &body, PyObject *header, const std::function<Ref()> &read_rows);
// Any other block: its trimmed text, when there is any.
void render_text(BodyWriter &body, PyObject *text);

// The steps of this file.
Ref render_blocks(PyObject *self, Args args);

}  // namespace velmora
