// Display blocks rendered as Markdown-like lines. Headings sit two levels below
// the section's own "##"/"###" headings; blocks are separated by one empty line.
#include <functional>
#include <vector>

#include "binding/objects.hpp"
#include "velmora/rendering.hpp"
#include "velmora/self_call.hpp"

namespace velmora {

using namespace tavrin;

namespace {

Ref get_or_empty_list(PyObject *block, PyObject *key) {
  return get_or(block, key, [] { return new_list(); });
}

// The same line for a level that is no int by the time it is used (a mapping
// whose get answers differently the second time): Python's own arithmetic.
Ref generic_heading_line(PyObject *level, PyObject *text) {
  Ref fewest = owned(PyLong_FromSsize_t(kFewestMarks));
  Ref below = owned(PyLong_FromSsize_t(kLevelsBelowSection));
  Ref most = owned(PyLong_FromSsize_t(kMostMarks));
  Ref count = owned(PyNumber_Add(level, below.get()));
  if (compares(fewest.get(), count.get(), Py_GT)) count = fewest;
  if (compares(most.get(), count.get(), Py_LT)) count = most;
  Ref marker = owned(PyNumber_Multiply(py_str<"#">(), count.get()));
  Ref spaced = owned(PyNumber_Add(marker.get(), py_str<" ">()));
  Ref line = owned(PyNumber_Add(spaced.get(), text));
  return call_method(line.get(), py_str<"strip">());
}

// The marker length of an int level, however large.
Py_ssize_t marker_length_of(PyObject *level) {
  return marker_length(clamped_int(level, kFewestMarks - kLevelsBelowSection, kMostMarks - kLevelsBelowSection));
}

void read_heading(BodyWriter &body, PyObject *block) {
  Ref level = get(block, py_str<"level">());
  if (!PyLong_Check(level.get())) {
    level = owned(PyLong_FromSsize_t(2));
  } else if (!PyDict_CheckExact(block)) {
    // The value used is a second read, which only a mapping's own get can change.
    level = get(block, py_str<"level">());
  }
  Ref text_value = get_or(block, py_str<"text">(), [] { return empty_str(); });
  render_heading(body, level.get(), text_value.get());
}

void read_list(BodyWriter &body, PyObject *block) {
  Ref items = get_or_empty_list(block, py_str<"items">());
  render_list(body, items.get());
}

void read_table(BodyWriter &body, PyObject *block) {
  Ref header = get_or_empty_list(block, py_str<"header">());
  render_table(body, header.get(), [&] { return get_or_empty_list(block, py_str<"rows">()); });
}

void read_text(BodyWriter &body, PyObject *block) {
  Ref value = get(block, py_str<"text">());
  render_text(body, value.get());
}

}  // namespace

void render_heading(BodyWriter &body, PyObject *level, PyObject *text_value) {
  Ref text = to_str(text_value);
  if (PyLong_Check(level)) {
    body.heading(marker_length_of(level), text.get(), {0, PyUnicode_GET_LENGTH(text.get())});
  } else {
    body.line();
    body.write(generic_heading_line(level, text.get()).get());
  }
}

void render_list(BodyWriter &body, PyObject *items) {
  for_each(items, [&](PyObject *item) {
    Ref text = to_str(item);
    body.bullet();
    body.write(text.get());
  });
}

void render_table(BodyWriter &body, PyObject *header_cells, const std::function<Ref()> &read_rows) {
  std::vector<Ref> header;
  for_each(header_cells, [&](PyObject *cell) { header.push_back(to_str(cell)); });
  Ref rows = read_rows();
  if (header.empty()) return;

  body.begin_table_row();
  for (const Ref &cell : header) {
    body.table_cell();
    body.write(cell.get());
  }
  body.end_table_row();
  body.delimiter_row(static_cast<Py_ssize_t>(header.size()));
  // Rows keep their own width: fitting them to the header is assembly's job.
  // A row is written as its cells convert: should one fail, nobody sees the
  // lines written so far.
  for_each(rows.get(), [&](PyObject *row) {
    if (!PyList_Check(row)) return;
    body.begin_table_row();
    for_each(row, [&](PyObject *cell) {
      Ref text = to_str(cell);
      body.table_cell();
      body.write(text.get());
    });
    body.end_table_row();
  });
}

void render_text(BodyWriter &body, PyObject *value) {
  Ref text = trimmed_text(value);
  if (is_true(text.get())) body.add(text.get());
}

Ref render_blocks(PyObject *, Args args) {
  ListSink lines;
  BodyWriter body(lines);
  for_each(args[0], [&](PyObject *block) {
    body.begin_block();
    Ref type = get(block, py_str<"type">());
    if (compares(type.get(), py_str<"heading">(), Py_EQ)) {
      read_heading(body, block);
    } else if (compares(type.get(), py_str<"list">(), Py_EQ)) {
      read_list(body, block);
    } else if (compares(type.get(), py_str<"table">(), Py_EQ)) {
      read_table(body, block);
    } else {
      read_text(body, block);
    }
  });
  return lines.finish();
}

}  // namespace velmora
