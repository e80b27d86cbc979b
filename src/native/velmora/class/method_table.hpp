// The class body of Velmora: its methods in their order, with signatures,
// annotations and docstrings. Each method's C++ body lives in the file of the
// steps it belongs to (report, questions, sections, links, assembly,
// text_parsing, conversion, rendering, recognisers), declared in its header.
//
// Each body receives `self` and its validated arguments and calls other steps
// only through `self` (self_call.hpp), so that a subclass or an instance
// attribute can replace any of them.
#pragma once

#include <array>

#include "binding/method_object.hpp"

namespace velmora {

using tavrin::Borrowed;
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

extern const std::array<tavrin::MethodDef, static_cast<std::size_t>(Step::count)> kMethods;

inline const tavrin::MethodDef &method_def(Step step) { return kMethods[static_cast<std::size_t>(step)]; }

}  // namespace velmora
