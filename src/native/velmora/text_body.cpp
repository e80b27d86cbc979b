#include "velmora/text_body.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "binding/simd.hpp"
#include "velmora/markdown_lines.hpp"

namespace velmora {

using namespace tavrin;

namespace {

// Display blocks as assembly makes them from the parsed blocks: headings and
// paragraphs at once, runs of list items as one list, runs of table lines as
// one table. Texts are spans of the answer text.
class Assembly {
 public:
  Assembly(PyObject *text, BodyWriter &body) : text_(text), body_(body) {}

  void heading(Py_ssize_t level, Span title) {
    flush();
    body_.begin_block();
    body_.heading(std::min<Py_ssize_t>(level + 2, 6), text_, title);
  }

  // A paragraph: its lines joined with "\n".
  void paragraph(const Span *first, const Span *last) {
    flush();
    body_.begin_block();
    body_.line();
    for (const Span *line = first; line != last; ++line) {
      if (line != first) body_.write_char('\n');
      body_.write(text_, *line);
    }
  }

  void list_item(Span item) {
    flush_table();
    item_starts_.push_back(item_pieces_.size());
    item_pieces_.push_back(item);
  }

  // A continuation line of the last list item, which is still pending.
  void continue_item(Span more) { item_pieces_.push_back(more); }

  void table_row(const std::vector<Span> &cells) {
    flush_list();
    row_starts_.push_back(cells_.size());
    cells_.insert(cells_.end(), cells.begin(), cells.end());
  }

  void flush() {
    flush_list();
    flush_table();
  }

 private:
  // An item: its first text and continuation lines, joined with " ".
  void write_item(std::size_t first, std::size_t last) {
    for (std::size_t i = first; i < last; ++i) {
      if (i > first) body_.write_char(' ');
      body_.write(text_, item_pieces_[i]);
    }
  }

  void flush_list() {
    if (item_starts_.empty()) return;
    body_.begin_block();
    for (std::size_t i = 0; i < item_starts_.size(); ++i) {
      body_.bullet();
      const std::size_t end = i + 1 < item_starts_.size() ? item_starts_[i + 1] : item_pieces_.size();
      write_item(item_starts_[i], end);
    }
    item_starts_.clear();
    item_pieces_.clear();
  }

  std::size_t row_end(std::size_t row) const {
    return row + 1 < row_starts_.size() ? row_starts_[row + 1] : cells_.size();
  }

  // A lone row is a text block: its cells joined with " | ", stripped.
  void write_lone_row() {
    TextWriter joined;
    for (std::size_t i = 0; i < cells_.size(); ++i) {
      if (i) joined.write_ascii(" | ", 3);
      joined.write(text_, cells_[i]);
    }
    Ref line = strip(joined.finish().get());
    body_.begin_block();
    if (PyUnicode_GET_LENGTH(line.get()) == 0) return;
    body_.line();
    body_.write(line.get());
  }

  // A row fitted to the header's width renders as its own cells followed by
  // an empty cell for each one missing: merged cells join with " | " anyway.
  void write_row(std::size_t row, std::size_t width) {
    body_.begin_table_row();
    const std::size_t begin = row_starts_[row];
    const std::size_t end = row_end(row);
    for (std::size_t i = begin; i < end; ++i) {
      body_.table_cell();
      body_.write(text_, cells_[i]);
    }
    for (std::size_t i = end - begin; i < width; ++i) body_.table_cell();
    body_.end_table_row();
  }

  void flush_table() {
    if (row_starts_.empty()) return;
    if (row_starts_.size() == 1) {
      write_lone_row();
    } else {
      const std::size_t width = row_end(0);
      body_.begin_block();
      write_row(0, width);
      body_.delimiter_row(static_cast<Py_ssize_t>(width));
      for (std::size_t row = 1; row < row_starts_.size(); ++row) write_row(row, width);
    }
    row_starts_.clear();
    cells_.clear();
  }

  PyObject *text_;
  BodyWriter &body_;
  std::vector<std::size_t> item_starts_;
  std::vector<Span> item_pieces_;
  std::vector<std::size_t> row_starts_;
  std::vector<Span> cells_;
};

// The position of the next "\n" or "\r" from `pos`, or `size`.
template <typename Char>
Py_ssize_t next_break(const Char *chars, Py_ssize_t pos, Py_ssize_t size) {
#if TAVRIN_VECTOR_SCANS
  if constexpr (sizeof(Char) <= 2) {
    for (; pos + 16 <= size; pos += 16) {
      const __m128i bytes = simd::sixteen_bytes(chars + pos);
      if (const unsigned breaks = simd::bits_equal(bytes, '\n') | simd::bits_equal(bytes, '\r'))
        return pos + simd::lowest_set_bit(breaks);
    }
  }
#endif
  while (pos < size && chars[pos] != '\n' && chars[pos] != '\r') ++pos;
  return pos;
}

// The lines of the text as "\r\n", "\r" and "\n" end them.
template <typename Char>
std::vector<Span> split_lines(const Char *chars, Py_ssize_t size) {
  std::vector<Span> lines;
  Py_ssize_t start = 0;
  for (Py_ssize_t pos = next_break(chars, 0, size); pos < size; pos = next_break(chars, start, size)) {
    lines.push_back({start, pos});
    if (chars[pos] == '\r' && pos + 1 < size && chars[pos + 1] == '\n') ++pos;
    start = pos + 1;
  }
  lines.push_back({start, size});
  return lines;
}

std::vector<Span> split_lines(PyObject *text) {
  const Py_ssize_t size = PyUnicode_GET_LENGTH(text);
  switch (PyUnicode_KIND(text)) {
    case PyUnicode_1BYTE_KIND:
      return split_lines(PyUnicode_1BYTE_DATA(text), size);
    case PyUnicode_2BYTE_KIND:
      return split_lines(PyUnicode_2BYTE_DATA(text), size);
    default:
      return split_lines(PyUnicode_4BYTE_DATA(text), size);
  }
}

// The line parse: paragraphs (with fenced code inside them), headings, tables
// and list items with their continuation lines, in one forward pass.
class Parse {
 public:
  Parse(PyObject *text, BodyWriter &body) : view_(text), lines_(split_lines(text)), assembly_(text, body) {}

  void run() {
    std::size_t index = 0;
    while (index < lines_.size()) index = take_line(index);
    flush_paragraph();
    assembly_.flush();
  }

 private:
  std::size_t take_line(std::size_t index) {
    const Span line = lines_[index];
    const Span trimmed = view_.strip(line);
    if (view_.starts_with(trimmed, "```")) {
      in_fence_ = !in_fence_;
      paragraph_.push_back(view_.rstrip(line));
      return index + 1;
    }
    if (in_fence_) {
      paragraph_.push_back(view_.rstrip(line));
      return index + 1;
    }
    if (trimmed.empty()) {
      flush_paragraph();
      return index + 1;
    }
    if (const auto heading = match_heading(view_, line)) {
      flush_paragraph();
      assembly_.heading(heading->level, heading->text);
      last_is_item_ = false;
      return index + 1;
    }
    if (const std::size_t next = take_table(index)) return next;
    if (const auto item = match_list_item(view_, line)) {
      flush_paragraph();
      assembly_.list_item(*item);
      last_is_item_ = true;
      return index + 1;
    }
    if (last_is_item_ && is_space(view_[line.begin])) {
      assembly_.continue_item(trimmed);
      return index + 1;
    }
    paragraph_.push_back(view_.rstrip(line));
    return index + 1;
  }

  // A table starting at `index`: a pipe row over a delimiter row, then the
  // rows up to a blank line, a line that is no row, or another delimiter row.
  // Returns the index after it, or 0 when no table starts here.
  std::size_t take_table(std::size_t index) {
    if (index + 1 >= lines_.size() || !match_pipe_row(view_, lines_[index], header_)) return 0;
    if (!match_pipe_row(view_, lines_[index + 1], cells_) || !is_delimiter_cells(view_, cells_)) return 0;
    flush_paragraph();
    assembly_.table_row(header_);
    std::size_t next = index + 2;
    while (next < lines_.size() && !view_.is_blank(lines_[next]) && match_pipe_row(view_, lines_[next], cells_) &&
           !is_delimiter_cells(view_, cells_)) {
      assembly_.table_row(cells_);
      ++next;
    }
    last_is_item_ = false;
    return next;
  }

  // The buffered lines joined with "\n" and stripped: blank lines at either
  // end go, the first line loses its leading whitespace.
  void flush_paragraph() {
    auto first = paragraph_.begin();
    auto last = paragraph_.end();
    while (first != last && first->empty()) ++first;
    while (last != first && (last - 1)->empty()) --last;
    if (first != last) {
      *first = view_.lstrip(*first);
      assembly_.paragraph(&*first, &*first + (last - first));
      last_is_item_ = false;
    }
    paragraph_.clear();
  }

  StrView view_;
  std::vector<Span> lines_;
  Assembly assembly_;
  std::vector<Span> paragraph_;
  std::vector<Span> header_;
  std::vector<Span> cells_;
  bool in_fence_ = false;
  bool last_is_item_ = false;
};

}  // namespace

// A stripped, non-empty text always has a line that makes a block, so the
// whole-text and last-resort text blocks of the step-by-step road never occur.
void write_text_body(PyObject *text, BodyWriter &body) { Parse(text, body).run(); }

}  // namespace velmora
