// The text-body writer: answer text rendered straight into body lines. The
// line parse of shared/line_parse.hpp recognises every line on the answer
// text's storage and hands each block it finds at once to the grouping of
// shared/grouping.hpp, which writes it out. Texts stay spans of the answer
// text throughout.
#include "velmora/direct/text_body.hpp"

#include <array>
#include <cstddef>
#include <memory_resource>
#include <optional>
#include <span>
#include <vector>

#include "velmora/direct/piece_groups.hpp"
#include "velmora/shared/grouping.hpp"
#include "velmora/shared/headings.hpp"
#include "velmora/shared/line_breaks.hpp"
#include "velmora/shared/line_match.hpp"
#include "velmora/shared/line_parse.hpp"

namespace velmora {

using namespace tavrin;

namespace {

// What the parse finds, as the conversion to structured blocks and their
// assembly would take it, written out at once: a parsed block is already
// stripped, and its table lines are rows of at least two cells.
template <LineSink Sink>
class SpanBlocks {
 public:
  SpanBlocks(PyObject *text, bool unbroken, BodyWriter<Sink> &body, std::pmr::memory_resource *memory)
      : text_(text), unbroken_(unbroken), body_(body), groups_(body, unbroken, memory), grouping_(groups_) {}

  void heading(const HeadingMatch &heading) {
    grouping_.before_block();
    body_.begin_block();
    // A parsed heading's level, 1 to 6, is already a display level.
    body_.heading(marker_length(heading.level), text_, heading.text, unbroken_);
    last_is_item_ = false;
  }

  void paragraph(std::span<Span> lines) {
    const StrView view(text_);
    const auto [first, last] = trim_paragraph(lines, [&view](const Span &) -> const StrView & { return view; });
    if (first == last) return;
    grouping_.before_block();
    body_.begin_block();
    body_.line();
    for (std::size_t i = first; i < last; ++i) {
      if (i > first) body_.write_char('\n');
      if (!unbroken_) {
        body_.write(text_, lines[i]);
        continue;
      }
      // Lines that follow each other in the text with a "\n" alone between
      // them are the text as the join would write it: one piece.
      const std::size_t single = i;
      Span run = lines[i];
      while (i + 1 < last && lines[i + 1].begin == run.end + 1 && view[run.end] == '\n') run.end = lines[++i].end;
      if (i == single) {
        body_.write_unbroken(text_, run);
      } else {
        body_.write(text_, run);
      }
    }
    last_is_item_ = false;
  }

  void list_item(Span item) {
    grouping_.before_list_item();
    groups_.add_item({text_, item});
    last_is_item_ = true;
  }
  void continue_item(Span more) { groups_.continue_item({text_, more}); }
  bool last_is_list_item() const { return last_is_item_; }

  void table_row(std::span<const Span> cells) {
    grouping_.before_table_row();
    groups_.begin_row();
    for (const Span &cell : cells) groups_.add_cell({text_, cell});
    last_is_item_ = false;
  }

  void finish() { grouping_.flush(); }

 private:
  Borrowed text_;
  bool unbroken_;
  BodyWriter<Sink> &body_;
  PieceGroups<Sink> groups_;
  Grouping<PieceGroups<Sink>> grouping_;
  bool last_is_item_ = false;
};

// A line of the answer text and its stripped form.
struct TextLine {
  Span line;
  Span trimmed;
};

// The lines of the answer text, recognised on its storage.
class SpanLines {
 public:
  using Piece = Span;

  SpanLines(PyObject *text, std::pmr::memory_resource *memory)
      : view_(text), lines_(memory), pipes_(memory), header_(memory), cells_(memory) {
    split_lines(text, lines_, pipes_);
  }

  Py_ssize_t size() const { return static_cast<Py_ssize_t>(lines_.size()); }
  TextLine at(Py_ssize_t index) const {
    const Span line = lines_[static_cast<std::size_t>(index)];
    return {line, view_.strip(line)};
  }

  bool is_fence(const TextLine &line) const {
    const Span &t = line.trimmed;
    return t.size() >= 3 && view_[t.begin] == '`' && view_[t.begin + 1] == '`' && view_[t.begin + 2] == '`';
  }
  static bool is_blank(const TextLine &line) { return line.trimmed.empty(); }
  bool is_indented(const TextLine &line) const { return !line.line.empty() && is_space(view_[line.line.begin]); }
  Span rstripped(const TextLine &line) const { return view_.rstrip(line.line); }
  static Span trimmed(const TextLine &line) { return line.trimmed; }

  // Most lines are told apart by their first character.
  std::optional<HeadingMatch> heading(const TextLine &line) const {
    if (line.trimmed.empty() || view_[line.trimmed.begin] != '#') return std::nullopt;
    return match_heading(view_, line.line);
  }
  std::optional<Span> list_item(const TextLine &line) const {
    if (line.trimmed.empty()) return std::nullopt;
    const Py_UCS4 first = view_[line.trimmed.begin];
    if (first < 0x80 && first != '-' && first != '*' && (first < '0' || first > '9')) return std::nullopt;
    return match_list_item(view_, line.line);
  }

  // A pipe row over a delimiter row starts a table; the header's cells are
  // kept for take_table.
  std::optional<Py_ssize_t> table(Py_ssize_t index) {
    const auto at = static_cast<std::size_t>(index);
    if (at + 1 >= lines_.size() || !pipes_[at] || !pipes_[at + 1]) return std::nullopt;
    if (!match_pipe_row(view_, lines_[at], header_)) return std::nullopt;
    if (!match_pipe_row(view_, lines_[at + 1], cells_) || !is_delimiter_cells(view_, cells_)) return std::nullopt;
    return index;
  }

  // The header, then the rows up to a blank line, a line that is no row, or
  // another delimiter row.
  template <class Blocks>
  std::optional<Py_ssize_t> take_table(Py_ssize_t index, Blocks &blocks) {
    blocks.table_row(header_);
    auto next = static_cast<std::size_t>(index) + 2;
    while (next < lines_.size() && pipes_[next] && !view_.is_blank(lines_[next]) &&
           match_pipe_row(view_, lines_[next], cells_) && !is_delimiter_cells(view_, cells_)) {
      blocks.table_row(cells_);
      ++next;
    }
    return static_cast<Py_ssize_t>(next);
  }

 private:
  StrView view_;
  std::pmr::vector<Span> lines_;
  std::pmr::vector<unsigned char> pipes_;  // whether each line holds a "|"
  std::pmr::vector<Span> header_;
  std::pmr::vector<Span> cells_;
};

}  // namespace

// A stripped, non-empty text always has a line that makes a block, so the
// whole-text and last-resort text blocks of the step-by-step road never occur.
template <LineSink Sink>
void write_text_body(Borrowed text, BodyWriter<Sink> &body) {
  // The parse's lists live on the stack while they are small, as most are.
  std::array<std::byte, 4096> stack;
  std::pmr::monotonic_buffer_resource memory(stack.data(), stack.size());
  SpanLines lines(text, &memory);
  // Where the lines go into a text whose line form is followed, knowing that
  // no piece breaks a line spares looking at every piece.
  SpanBlocks<Sink> blocks(text, Sink::kFollowsLineForm && lines_are_unbroken(text), body, &memory);
  LineParse(lines, blocks, &memory).run();
  blocks.finish();
}

template void write_text_body(Borrowed, BodyWriter<ListSink> &);
template void write_text_body(Borrowed, BodyWriter<HeadedSink> &);

}  // namespace velmora
