// Markdown line recognisers: headings, list items and pipe tables, matched
// on the line's storage by shared/line_match.hpp.
#include "velmora/steps/recognisers.hpp"

#include <optional>
#include <vector>

#include "binding/objects.hpp"
#include "velmora/class/self_call.hpp"
#include "velmora/shared/line_match.hpp"
#include "velmora/steps/block_dicts.hpp"
#include "velmora/steps/python_rules.hpp"

namespace velmora {

using namespace tavrin;

namespace {

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

// The lines of one table attempt, read as `lines[start_index + offset]`.
class TableLines {
 public:
  TableLines(PyObject *lines, PyObject *start_index) : lines_(lines), start_(index_value(start_index)) {}

  // start_index + offset < len(lines), with the length read now.
  bool before_end(Py_ssize_t offset) const {
    if (start_.overflow) return start_.overflow < 0;
    return start_.value < PyList_GET_SIZE(lines_.get()) - offset;
  }

  Ref at(Py_ssize_t offset) const {
    if (start_.overflow) raise(PyExc_IndexError, "cannot fit 'int' into an index-sized integer");
    return list_at(lines_, start_.value + offset);
  }

  // The line handed to _parse_pipe_row: "" past the end.
  Ref at_or_empty(Py_ssize_t offset) const { return before_end(offset) ? at(offset) : empty_str(); }

 private:
  Borrowed lines_;
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

bool is_delimiter_row(const Self &self, PyObject *cells) {
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
  std::pmr::vector<Span> cells;
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
    Ref cell = tavrin::list_item_if_present(cells, i);
    if (!cell) break;  // another thread shrank the list since its length was read
    if (!is_delimiter_cell(cell.get())) return boolean(false);
  }
  return boolean(true);
}

Ref parse_markdown_table(PyObject *instance, Args args) {
  const Self self(instance);
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
