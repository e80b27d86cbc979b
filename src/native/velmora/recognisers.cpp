// Markdown line recognisers: headings, list items and pipe tables.
//
// The line patterns are matched by hand on the string storage. They are the
// `re` patterns "^(#{1,6})\s+(.*)$", "^([-*•])\s+(.*)$", "^\d+[.)]\s+(.*)$"
// and "^:?-{3,}:?$", with `re`'s meaning of \s (str.isspace), \d (any decimal
// digit), "." (anything but "\n") and "$" (the end, or just before a final
// "\n"); tests compare every recogniser with `re` itself.
#include <optional>
#include <vector>

#include "velmora/recognisers.hpp"

#include "binding/objects.hpp"
#include "velmora/block_dicts.hpp"
#include "velmora/python_rules.hpp"
#include "velmora/self_call.hpp"

namespace velmora {

using namespace tavrin;

namespace {

constexpr Py_UCS4 kBullet = 0x2022;

// "\\d": any decimal digit, ASCII ones first.
bool is_decimal(Py_UCS4 ch) { return ch < 128 ? (ch >= '0' && ch <= '9') : Py_UNICODE_ISDECIMAL(ch); }

// "\s+(.*)$" from `pos` on a stripped line. The whitespace run is taken whole:
// giving any of it back to "(.*)" only lengthens the rest, which must hold no
// "\n" either way (the line ends in non-whitespace, so "$" is its end).
// The result is the rest, already stripped and never empty.
std::optional<Span> text_after_space(const StrView &line, Py_ssize_t pos, Span stripped) {
  if (pos >= stripped.end || !is_space(line[pos])) return std::nullopt;
  const Span rest = line.lstrip({pos, stripped.end});
  if (line.find('\n', rest) >= 0) return std::nullopt;
  return rest;
}

// "^\d+[.)]" then "\s+(.*)$".
std::optional<Span> ordered_item_text(const StrView &line, Span stripped) {
  Py_ssize_t pos = stripped.begin;
  while (pos < stripped.end && is_decimal(line[pos])) ++pos;
  if (pos == stripped.begin || pos == stripped.end) return std::nullopt;
  if (line[pos] != '.' && line[pos] != ')') return std::nullopt;
  return text_after_space(line, pos + 1, stripped);
}

std::optional<Span> list_item_text(const StrView &line, Span stripped) {
  if (stripped.empty()) return std::nullopt;
  const Py_UCS4 first = line[stripped.begin];
  // A bullet is no digit, so a failed bullet item is no numbered item either.
  if (first == '-' || first == '*' || first == kBullet) return text_after_space(line, stripped.begin + 1, stripped);
  return ordered_item_text(line, stripped);
}

// "^:?-{3,}:?$" on `cell`; every step is forced, so no backtracking is needed.
bool is_delimiter_text(const StrView &cell, Span span) {
  Py_ssize_t pos = span.begin;
  if (pos < span.end && cell[pos] == ':') ++pos;
  const Py_ssize_t dashes = pos;
  while (pos < span.end && cell[pos] == '-') ++pos;
  if (pos - dashes < 3) return false;
  if (pos < span.end && cell[pos] == ':') ++pos;
  return pos == span.end || (pos + 1 == span.end && cell[pos] == '\n');
}

// re.match(<delimiter pattern>, cell.strip())
bool is_delimiter_cell(PyObject *cell) {
  if (PyUnicode_CheckExact(cell)) {
    const StrView view(cell);
    return is_delimiter_text(view, view.strip(view.all()));
  }
  Ref stripped = call_method(cell, py_str<"strip">());
  if (!PyUnicode_Check(stripped.get())) refuse_match_subject(stripped.get());
  const StrView view(stripped.get());
  return is_delimiter_text(view, view.all());
}

// The pieces of line.split("|"), each stripped.
void split_cells(const StrView &text, Span line, std::vector<Span> &cells) {
  cells.clear();
  Py_ssize_t start = line.begin;
  for (Py_ssize_t pipe = text.find('|', line); pipe >= 0; pipe = text.find('|', {start, line.end})) {
    cells.push_back(text.strip({start, pipe}));
    start = pipe + 1;
  }
  cells.push_back(text.strip({start, line.end}));
}

bool has_content(const StrView &line, const std::vector<Span> &cells, std::size_t first, std::size_t last) {
  for (std::size_t i = first; i < last; ++i)
    if (!cells[i].empty() && !line.equals(cells[i], "-")) return true;
  return false;
}

}  // namespace

std::optional<HeadingMatch> match_heading(const StrView &text, Span line) {
  const Span stripped = text.strip(line);
  Py_ssize_t marks = 0;
  while (marks <= 6 && stripped.begin + marks < stripped.end && text[stripped.begin + marks] == '#') ++marks;
  // Seven marks never match: after six the pattern needs whitespace.
  if (marks == 0 || marks > 6) return std::nullopt;
  const std::optional<Span> title = text_after_space(text, stripped.begin + marks, stripped);
  if (!title) return std::nullopt;
  return HeadingMatch{marks, *title};
}

std::optional<Span> match_list_item(const StrView &text, Span line) { return list_item_text(text, text.strip(line)); }

bool match_pipe_row(const StrView &text, Span line, std::vector<Span> &cells) {
  if (text.find('|', line) < 0) return false;
  split_cells(text, line, cells);
  if (cells.size() < 2) return false;  // no "|" at all
  if (cells.front().empty()) cells.erase(cells.begin());
  if (!cells.empty() && cells.back().empty()) cells.pop_back();
  return cells.size() >= 2 && has_content(text, cells, 0, cells.size());
}

bool is_delimiter_cells(const StrView &text, const std::vector<Span> &cells) {
  if (cells.empty()) return false;
  for (const Span &cell : cells)
    if (!is_delimiter_text(text, text.strip(cell))) return false;
  return true;
}

namespace {

// The lines of one table attempt, read as `lines[start_index + offset]`.
class TableLines {
 public:
  TableLines(PyObject *lines, PyObject *start_index) : lines_(lines), start_(index_value(start_index)) {}

  // start_index + offset < len(lines), with the length read now.
  bool before_end(Py_ssize_t offset) const {
    if (start_.overflow) return start_.overflow < 0;
    return start_.value < PyList_GET_SIZE(lines_) - offset;
  }

  Ref at(Py_ssize_t offset) const {
    if (start_.overflow) raise(PyExc_IndexError, "cannot fit 'int' into an index-sized integer");
    return list_at(lines_, start_.value + offset);
  }

  // The line handed to _parse_pipe_row: "" past the end.
  Ref at_or_empty(Py_ssize_t offset) const { return before_end(offset) ? at(offset) : empty_str(); }

 private:
  PyObject *lines_;
  IndexValue start_;  // start_index is an exact int: argument validation converts it
};

// not line.strip()
bool is_blank(PyObject *line) {
  if (PyUnicode_CheckExact(line)) {
    const StrView view(line);
    return view.is_blank(view.all());
  }
  return !is_true(call_method(line, py_str<"strip">()).get());
}

bool is_delimiter_row(PyObject *self, PyObject *cells) {
  return is_true(call(self, Step::is_markdown_delimiter_row, {cells}).get());
}

}  // namespace

Ref parse_markdown_heading(PyObject *, Args args) {
  PyObject *line = args[0];
  const StrView view(line);
  const std::optional<HeadingMatch> heading = match_heading(view, view.all());
  if (!heading) return none();
  Ref level = owned(PyLong_FromSsize_t(heading->level));
  return parsed_heading_block(level.get(), substring(line, heading->text).get());
}

Ref parse_markdown_list_item(PyObject *, Args args) {
  PyObject *line = args[0];
  const StrView view(line);
  const std::optional<Span> text = match_list_item(view, view.all());
  if (!text) return none();
  return parsed_list_item_block(substring(line, *text).get());
}

Ref parse_pipe_row(PyObject *, Args args) {
  PyObject *line = args[0];
  const StrView view(line);
  std::vector<Span> cells;
  if (!match_pipe_row(view, view.all(), cells)) return none();
  Ref row = new_list(static_cast<Py_ssize_t>(cells.size()));
  for (std::size_t i = 0; i < cells.size(); ++i)
    PyList_SET_ITEM(row.get(), static_cast<Py_ssize_t>(i), substring(line, cells[i]).release());
  return row;
}

Ref is_markdown_delimiter_row(PyObject *, Args args) {
  PyObject *cells = args[0];
  if (PyList_GET_SIZE(cells) == 0) return boolean(false);
  // List iteration: a cell's strip() may change the list under us.
  for (Py_ssize_t i = 0; i < PyList_GET_SIZE(cells); ++i) {
    Ref cell = Ref::new_reference(PyList_GET_ITEM(cells, i));
    if (!is_delimiter_cell(cell.get())) return boolean(false);
  }
  return boolean(true);
}

Ref parse_markdown_table(PyObject *self, Args args) {
  PyObject *lines = args[0];
  PyObject *start_index = args[1];
  const TableLines table(lines, start_index);

  Ref header_line = table.at_or_empty(0);
  Ref header = call(self, Step::parse_pipe_row, {header_line.get()});
  if (!is_true(header.get())) return none();
  Ref delimiter_line = table.at_or_empty(1);
  Ref delimiter = call(self, Step::parse_pipe_row, {delimiter_line.get()});
  if (!is_true(delimiter.get()) || !is_delimiter_row(self, delimiter.get())) return none();

  Ref rows = new_list();
  Py_ssize_t offset = 2;
  while (table.before_end(offset)) {
    Ref line = table.at(offset);
    if (is_blank(line.get())) break;
    Ref row = call(self, Step::parse_pipe_row, {line.get()});
    if (!is_true(row.get()) || is_delimiter_row(self, row.get())) break;
    append(rows.get(), row.get());
    ++offset;
  }

  Ref block = parsed_table_block(header.get(), rows.get());
  Ref consumed = owned(PyLong_FromSsize_t(offset));
  Ref next_index = owned(PyNumber_Add(start_index, consumed.get()));
  return owned(PyTuple_Pack(2, block.get(), next_index.get()));
}

}  // namespace velmora
