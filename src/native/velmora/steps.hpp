// The steps of the report formatter: one C++ body per method of Velmora.
//
// Each body receives `self` and its checked arguments (see the method table)
// and calls other steps only through `self` (self_call.hpp), so that a
// subclass or an instance attribute can replace any of them.
#pragma once

#include "binding/ref.hpp"

namespace velmora {

using tavrin::Ref;
using Args = PyObject *const *;

// Steps in the order of the class body.
enum class Step : int {
  format_data,
  extract_questions,
  normalize_question_list,
  question_at,
  format_section,
  format_answer_body,
  format_product_links,
  format_recommended_asins,
  format_link_items,
  build_answer_blocks,
  build_structured_answer_blocks,
  normalize_structured_row,
  normalize_row_cells,
  build_text_fallback_blocks,
  to_structured_blocks,
  render_blocks,
  normalize_text_lines,
  parse_markdown_heading,
  parse_markdown_list_item,
  parse_markdown_table,
  parse_pipe_row,
  is_markdown_delimiter_row,
  collapse_blank_lines,
  count,
};

// report.cpp
Ref format_data(PyObject *self, Args args);
Ref collapse_blank_lines(PyObject *self, Args args);
// questions.cpp
Ref extract_questions(PyObject *self, Args args);
Ref normalize_question_list(PyObject *self, Args args);
Ref question_at(PyObject *self, Args args);
// sections.cpp
Ref format_section(PyObject *self, Args args);
Ref format_answer_body(PyObject *self, Args args);
// links.cpp
Ref format_product_links(PyObject *self, Args args);
Ref format_recommended_asins(PyObject *self, Args args);
Ref format_link_items(PyObject *self, Args args);
// assembly.cpp
Ref build_answer_blocks(PyObject *self, Args args);
Ref build_structured_answer_blocks(PyObject *self, Args args);
Ref normalize_structured_row(PyObject *self, Args args);
Ref normalize_row_cells(PyObject *self, Args args);
// text_parsing.cpp
Ref build_text_fallback_blocks(PyObject *self, Args args);
Ref normalize_text_lines(PyObject *self, Args args);
// conversion.cpp
Ref to_structured_blocks(PyObject *self, Args args);
// rendering.cpp
Ref render_blocks(PyObject *self, Args args);
// recognisers.cpp
Ref parse_markdown_heading(PyObject *self, Args args);
Ref parse_markdown_list_item(PyObject *self, Args args);
Ref parse_markdown_table(PyObject *self, Args args);
Ref parse_pipe_row(PyObject *self, Args args);
Ref is_markdown_delimiter_row(PyObject *self, Args args);

}  // namespace velmora
