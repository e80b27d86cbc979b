// The parse of answer text: one forward pass over its lines that finds
// paragraphs (fenced code stays inside them), headings, tables and list items
// with their continuation lines.
//
// The pass is written once and run in two configurations. `Lines` says how a
// line is read and recognised: on the string storage of the answer text, or
// by the recogniser steps called through self. `Blocks` receives what the
// pass finds: the intermediate blocks the step returns, or the assembly of
// display blocks straight away.
#pragma once

#include <memory_resource>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "binding/text.hpp"

namespace velmora {

// The span of a line kept for a paragraph, when it is kept as a bare span.
inline tavrin::Span &span_of(tavrin::Span &span) { return span; }

// `Lines` gives, for the line at an index:
//   Line at(index)                   the line
//   bool is_fence(line)              its stripped form starts with "```"
//   bool is_blank(line)              it is whitespace only
//   bool is_indented(line)           it starts with whitespace
//   Piece rstripped(line), trimmed(line)
//   optional heading(line), list_item(line): what Blocks takes for them
//   optional table(index)            a table starts here
//   optional<Py_ssize_t> take_table(table, blocks)
//                                    gives the table to Blocks; returns the
//                                    index after it (none: the parse ends)
//   Py_ssize_t size()                read again before every line
// `Blocks` takes heading(h), list_item(i), continue_item(piece) and
// paragraph(pieces), and answers last_is_list_item().
template <class Lines, class Blocks>
class LineParse {
 public:
  using Piece = typename Lines::Piece;

  // The paragraph's lines are kept in `memory`.
  LineParse(Lines &lines, Blocks &blocks, std::pmr::memory_resource *memory = std::pmr::get_default_resource())
      : lines_(lines), blocks_(blocks), paragraph_(memory) {}

  void run() {
    std::optional<Py_ssize_t> index = 0;
    while (index && *index < lines_.size()) index = take_line(*index);
    flush_paragraph();
  }

 private:
  // Applies the first rule that fits the line at `index`; returns where the
  // parse goes on, or nothing when it is over.
  std::optional<Py_ssize_t> take_line(Py_ssize_t index) {
    const auto line = lines_.at(index);
    const Py_ssize_t next = index + 1;
    if (lines_.is_fence(line)) {
      in_code_fence_ = !in_code_fence_;
      paragraph_.push_back(lines_.rstripped(line));
      return next;
    }
    if (in_code_fence_) {
      paragraph_.push_back(lines_.rstripped(line));
      return next;
    }
    if (lines_.is_blank(line)) {
      flush_paragraph();
      return next;
    }
    if (auto heading = lines_.heading(line)) {
      flush_paragraph();
      blocks_.heading(std::move(*heading));
      return next;
    }
    if (auto table = lines_.table(index)) {
      flush_paragraph();
      return lines_.take_table(*table, blocks_);
    }
    if (auto item = lines_.list_item(line)) {
      flush_paragraph();
      blocks_.list_item(std::move(*item));
      return next;
    }
    // An indented line continues the last block when that is a list item,
    // even with paragraph text or blank lines between them.
    if (lines_.is_indented(line) && blocks_.last_is_list_item()) {
      blocks_.continue_item(lines_.trimmed(line));
      return next;
    }
    paragraph_.push_back(lines_.rstripped(line));
    return next;
  }

  void flush_paragraph() {
    if (paragraph_.empty()) return;
    blocks_.paragraph(std::span<Piece>(paragraph_));
    paragraph_.clear();
  }

  Lines &lines_;
  Blocks &blocks_;
  std::pmr::vector<Piece> paragraph_;
  bool in_code_fence_ = false;
};

// A paragraph's text is its lines joined with "\n" and stripped. Without
// making the join: the blank lines at either end go, the first line left
// loses its leading whitespace and the last its trailing. Returns the lines
// left, [first, last), empty when the paragraph is blank.
template <class Piece, class ViewOf>
std::pair<std::size_t, std::size_t> trim_paragraph(std::span<Piece> lines, ViewOf &&view_of) {
  std::size_t first = 0;
  std::size_t last = lines.size();
  while (first < last && view_of(lines[first]).is_blank(span_of(lines[first]))) ++first;
  if (first == last) return {0, 0};
  while (view_of(lines[last - 1]).is_blank(span_of(lines[last - 1]))) --last;
  span_of(lines[first]) = view_of(lines[first]).lstrip(span_of(lines[first]));
  span_of(lines[last - 1]) = view_of(lines[last - 1]).rstrip(span_of(lines[last - 1]));
  return {first, last};
}

}  // namespace velmora
