// The text-body writer: answer text rendered straight into body lines. The
// line parse of shared/line_parse.hpp recognises every line on the answer
// text's storage and hands each block it finds at once to the grouping of
// shared/grouping.hpp, which writes it out. Texts stay spans of the answer
// text throughout.
#include "velmora/direct/text_body.hpp"

#include <cstddef>
#include <optional>
#include <vector>

#include "velmora/shared/grouping.hpp"
#include "velmora/shared/headings.hpp"
#include "velmora/shared/line_breaks.hpp"
#include "velmora/shared/line_match.hpp"
#include "velmora/shared/line_parse.hpp"

namespace velmora {

using namespace tavrin;

namespace {

// Pending list items and table rows as spans, written out as display blocks.
template <LineSink Sink>
class SpanGroups {
 public:
  SpanGroups(PyObject *text, bool unbroken, BodyWriter<Sink> &body) : text_(text), unbroken_(unbroken), body_(body) {}

  // An item is its first text and its continuation lines, joined with " ".
  void add_item(Span item) {
    item_starts_.push_back(item_pieces_.size());
    item_pieces_.push_back(item);
  }
  void continue_item(Span more) { item_pieces_.push_back(more); }

  void add_row(const std::vector<Span> &cells) {
    row_starts_.push_back(cells_.size());
    cells_.insert(cells_.end(), cells.begin(), cells.end());
  }

  bool has_items() const { return !item_starts_.empty(); }
  void emit_list() {
    body_.begin_block();
    for (std::size_t item = 0; item < item_starts_.size(); ++item) {
      body_.bullet();
      const std::size_t end = item + 1 < item_starts_.size() ? item_starts_[item + 1] : item_pieces_.size();
      for (std::size_t i = item_starts_[item]; i < end; ++i) {
        if (i > item_starts_[item]) body_.write_char(' ');
        write_piece(item_pieces_[i]);
      }
    }
    item_starts_.clear();
    item_pieces_.clear();
  }

  Py_ssize_t row_count() const { return static_cast<Py_ssize_t>(row_starts_.size()); }

  // A lone row is a text block: its cells joined with " | ", stripped.
  void emit_lone_row() {
    TextWriter joined;
    for (std::size_t i = 0; i < cells_.size(); ++i) {
      if (i) joined.write_ascii(" | ", 3);
      joined.write(text_, cells_[i]);
    }
    Ref line = strip(joined.finish().get());
    clear_rows();
    body_.begin_block();
    if (PyUnicode_GET_LENGTH(line.get()) == 0) return;
    body_.line();
    if (unbroken_) {
      body_.write_unbroken(line.get());
    } else {
      body_.write(line.get());
    }
  }

  // The header row as it is, then every body row fitted to its width.
  void emit_table() {
    const auto width = static_cast<Py_ssize_t>(row_end(0));
    body_.begin_block();
    write_row(0, width);
    body_.delimiter_row(width);
    for (std::size_t row = 1; row < row_starts_.size(); ++row) write_row(row, width);
    clear_rows();
  }

 private:
  // Cells joined with " | ": the merged last cell of a row.
  void write_joined_cells(std::size_t first, std::size_t last) {
    for (std::size_t i = first; i < last; ++i) {
      if (i > first) body_.write_ascii(" | ", 3);
      write_piece(cells_[i]);
    }
  }

  std::size_t row_end(std::size_t row) const {
    return row + 1 < row_starts_.size() ? row_starts_[row + 1] : cells_.size();
  }

  void write_row(std::size_t row, Py_ssize_t width) {
    const std::size_t begin = row_starts_[row];
    const std::size_t end = row_end(row);
    const RowFit fit = fit_row(static_cast<Py_ssize_t>(end - begin), width);
    const std::size_t kept_end = begin + static_cast<std::size_t>(fit.kept);
    body_.begin_table_row();
    for (std::size_t i = begin; i < kept_end; ++i) {
      body_.table_cell();
      write_piece(cells_[i]);
    }
    if (fit.merges_rest) {
      body_.table_cell();
      write_joined_cells(kept_end, end);
    }
    for (Py_ssize_t i = 0; i < fit.padding; ++i) body_.table_cell();
    body_.end_table_row();
  }

  void clear_rows() {
    row_starts_.clear();
    cells_.clear();
  }

  void write_piece(Span span) {
    if (unbroken_) {
      body_.write_unbroken(text_, span);
    } else {
      body_.write(text_, span);
    }
  }

  Borrowed text_;
  bool unbroken_;  // no piece of the text breaks a line
  BodyWriter<Sink> &body_;
  std::vector<std::size_t> item_starts_;
  std::vector<Span> item_pieces_;
  std::vector<std::size_t> row_starts_;
  std::vector<Span> cells_;
};

// What the parse finds, as the conversion to structured blocks and their
// assembly would take it, written out at once: a parsed block is already
// stripped, and its table lines are rows of at least two cells.
template <LineSink Sink>
class SpanBlocks {
 public:
  SpanBlocks(PyObject *text, bool unbroken, BodyWriter<Sink> &body)
      : text_(text), unbroken_(unbroken), body_(body), groups_(text, unbroken, body), grouping_(groups_) {}

  void heading(const HeadingMatch &heading) {
    grouping_.before_block();
    body_.begin_block();
    // A parsed heading's level, 1 to 6, is already a display level.
    body_.heading(marker_length(heading.level), text_, heading.text, unbroken_);
    last_is_item_ = false;
  }

  void paragraph(std::vector<Span> &lines) {
    const StrView view(text_);
    const auto [first, last] = trim_paragraph(lines, [&view](const Span &) -> const StrView & { return view; });
    if (first == last) return;
    grouping_.before_block();
    body_.begin_block();
    body_.line();
    for (std::size_t i = first; i < last; ++i) {
      if (i > first) body_.write_char('\n');
      if (unbroken_) {
        body_.write_unbroken(text_, lines[i]);
      } else {
        body_.write(text_, lines[i]);
      }
    }
    last_is_item_ = false;
  }

  void list_item(Span item) {
    grouping_.before_list_item();
    groups_.add_item(item);
    last_is_item_ = true;
  }
  void continue_item(Span more) { groups_.continue_item(more); }
  bool last_is_list_item() const { return last_is_item_; }

  void table_row(const std::vector<Span> &cells) {
    grouping_.before_table_row();
    groups_.add_row(cells);
    last_is_item_ = false;
  }

  void finish() { grouping_.flush(); }

 private:
  Borrowed text_;
  bool unbroken_;
  BodyWriter<Sink> &body_;
  SpanGroups<Sink> groups_;
  Grouping<SpanGroups<Sink>> grouping_;
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

  explicit SpanLines(PyObject *text) : view_(text) { split_lines(text, lines_); }

  Py_ssize_t size() const { return static_cast<Py_ssize_t>(lines_.size()); }
  TextLine at(Py_ssize_t index) const {
    const Span line = lines_[static_cast<std::size_t>(index)];
    return {line, view_.strip(line)};
  }

  bool is_fence(const TextLine &line) const { return view_.starts_with(line.trimmed, "```"); }
  static bool is_blank(const TextLine &line) { return line.trimmed.empty(); }
  bool is_indented(const TextLine &line) const { return !line.line.empty() && is_space(view_[line.line.begin]); }
  Span rstripped(const TextLine &line) const { return view_.rstrip(line.line); }
  static Span trimmed(const TextLine &line) { return line.trimmed; }

  std::optional<HeadingMatch> heading(const TextLine &line) const { return match_heading(view_, line.line); }
  std::optional<Span> list_item(const TextLine &line) const { return match_list_item(view_, line.line); }

  // A pipe row over a delimiter row starts a table; the header's cells are
  // kept for take_table.
  std::optional<Py_ssize_t> table(Py_ssize_t index) {
    const auto at = static_cast<std::size_t>(index);
    if (at + 1 >= lines_.size() || !match_pipe_row(view_, lines_[at], header_)) return std::nullopt;
    if (!match_pipe_row(view_, lines_[at + 1], cells_) || !is_delimiter_cells(view_, cells_)) return std::nullopt;
    return index;
  }

  // The header, then the rows up to a blank line, a line that is no row, or
  // another delimiter row.
  template <class Blocks>
  std::optional<Py_ssize_t> take_table(Py_ssize_t index, Blocks &blocks) {
    blocks.table_row(header_);
    auto next = static_cast<std::size_t>(index) + 2;
    while (next < lines_.size() && !view_.is_blank(lines_[next]) && match_pipe_row(view_, lines_[next], cells_) &&
           !is_delimiter_cells(view_, cells_)) {
      blocks.table_row(cells_);
      ++next;
    }
    return static_cast<Py_ssize_t>(next);
  }

 private:
  StrView view_;
  std::vector<Span> lines_;
  std::vector<Span> header_;
  std::vector<Span> cells_;
};

}  // namespace

// A stripped, non-empty text always has a line that makes a block, so the
// whole-text and last-resort text blocks of the step-by-step road never occur.
template <LineSink Sink>
void write_text_body(Borrowed text, BodyWriter<Sink> &body) {
  SpanLines lines(text);
  // Where the lines go into a text whose line form is followed, knowing that
  // no piece breaks a line spares looking at every piece.
  SpanBlocks<Sink> blocks(text, Sink::kFollowsLineForm && lines_are_unbroken(text), body);
  LineParse(lines, blocks).run();
  blocks.finish();
}

template void write_text_body(Borrowed, BodyWriter<ListSink> &);
template void write_text_body(Borrowed, BodyWriter<HeadedSink> &);

}  // namespace velmora
