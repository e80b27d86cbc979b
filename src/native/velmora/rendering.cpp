// Display blocks rendered as Markdown-like lines. Headings sit two levels below
// the section's own "##"/"###" headings; blocks are separated by one empty line.
#include <vector>

#include "binding/objects.hpp"
#include "binding/text.hpp"
#include "velmora/self_call.hpp"

namespace velmora {

using namespace tavrin;

namespace {

bool compares(PyObject *left, PyObject *right, int op) { return check(PyObject_RichCompareBool(left, right, op)) != 0; }

// `mapping.get(key, default)`; `make_default` runs only when Python would need
// the default object.
template <class MakeDefault>
Ref get_or(PyObject *mapping, PyObject *key, MakeDefault &&make_default) {
  if (PyDict_CheckExact(mapping)) {
    PyObject *value = nullptr;
    if (check(PyDict_GetItemRef(mapping, key, &value))) return Ref::steal(value);
    return make_default();
  }
  Ref fallback = make_default();
  PyObject *argv[] = {mapping, key, fallback.get()};
  return owned(PyObject_VectorcallMethod(py_str<"get">(), argv, 3, nullptr));
}

Ref get_or_empty_list(PyObject *block, PyObject *key) {
  return get_or(block, key, [] { return new_list(); });
}

// The marker, a space and the text, stripped as one line. The marker protects
// the text's leading whitespace, so only its trailing whitespace can go.
Ref heading_line(Py_ssize_t marker_length, PyObject *text) {
  const StrView view(text);
  const Span content = view.rstrip(view.all());
  TextWriter writer(marker_length + 1 + content.size());
  writer.write_ascii("######", marker_length);
  if (!content.empty()) {
    writer.write_char(' ');
    writer.write(text, content);
  }
  return writer.finish();
}

// The same line for a level that is no int by the time it is used (a mapping
// whose get answers differently the second time): Python's own arithmetic.
Ref generic_heading_line(PyObject *level, PyObject *text) {
  Ref one = owned(PyLong_FromLong(1));
  Ref two = owned(PyLong_FromLong(2));
  Ref six = owned(PyLong_FromLong(6));
  Ref count = owned(PyNumber_Add(level, two.get()));
  if (compares(one.get(), count.get(), Py_GT)) count = one;
  if (compares(six.get(), count.get(), Py_LT)) count = six;
  Ref marker = owned(PyNumber_Multiply(py_str<"#">(), count.get()));
  Ref spaced = owned(PyNumber_Add(marker.get(), py_str<" ">()));
  Ref line = owned(PyNumber_Add(spaced.get(), text));
  return call_method(line.get(), py_str<"strip">());
}

Py_ssize_t marker_length(PyObject *level) {
  int overflow = 0;
  const long value = PyLong_AsLongAndOverflow(level, &overflow);
  if (value == -1 && PyErr_Occurred()) throw_error();
  if (overflow > 0 || (!overflow && value >= 4)) return 6;
  if (overflow < 0 || value <= -1) return 1;
  return value + 2;
}

void render_heading(PyObject *lines, PyObject *block) {
  Ref level = get(block, py_str<"level">());
  if (!PyLong_Check(level.get())) {
    level = owned(PyLong_FromLong(2));
  } else if (!PyDict_CheckExact(block)) {
    // The value used is a second read, which only a mapping's own get can change.
    level = get(block, py_str<"level">());
  }
  Ref text_value = get_or(block, py_str<"text">(), [] { return empty_str(); });
  Ref text = to_str(text_value.get());
  Ref line = PyLong_Check(level.get()) ? heading_line(marker_length(level.get()), text.get())
                                       : generic_heading_line(level.get(), text.get());
  append(lines, line.get());
}

void render_list(PyObject *lines, PyObject *block) {
  Ref items = get_or_empty_list(block, py_str<"items">());
  for_each(items.get(), [&](PyObject *item) {
    Ref text = to_str(item);
    Ref line = concat({py_str<"- ">(), text.get()});
    append(lines, line.get());
  });
}

// One pipe-table line: "| ", the cells joined with " | ", then " |".
class TableLine {
 public:
  void cell(PyObject *text) {
    writer_.write_ascii(first_ ? "| " : " | ", first_ ? 2 : 3);
    first_ = false;
    writer_.write(text);
  }
  Ref finish() {
    if (first_) writer_.write_ascii("| ", 2);
    writer_.write_ascii(" |", 2);
    return writer_.finish();
  }

 private:
  TextWriter writer_;
  bool first_ = true;
};

Ref delimiter_line(std::size_t cells) {
  TableLine line;
  for (std::size_t i = 0; i < cells; ++i) line.cell(py_str<"---">());
  return line.finish();
}

void render_table(PyObject *lines, PyObject *block) {
  Ref header_value = get_or_empty_list(block, py_str<"header">());
  std::vector<Ref> header;
  for_each(header_value.get(), [&](PyObject *cell) { header.push_back(to_str(cell)); });
  Ref rows = get_or_empty_list(block, py_str<"rows">());
  if (header.empty()) return;

  TableLine header_line;
  for (const Ref &cell : header) header_line.cell(cell.get());
  append(lines, header_line.finish().get());
  append(lines, delimiter_line(header.size()).get());
  // Rows keep their own width: fitting them to the header is assembly's job.
  for_each(rows.get(), [&](PyObject *row) {
    if (!PyList_Check(row)) return;
    TableLine row_line;
    for_each(row, [&](PyObject *cell) { row_line.cell(to_str(cell).get()); });
    append(lines, row_line.finish().get());
  });
}

void render_text(PyObject *lines, PyObject *block) {
  Ref value = get(block, py_str<"text">());
  Ref text = trimmed_text(value.get());
  if (is_true(text.get())) append(lines, text.get());
}

}  // namespace

Ref render_blocks(PyObject *, Args args) {
  Ref lines = new_list();
  for_each(args[0], [&](PyObject *block) {
    // The separator comes first, so it stays even when the block renders nothing.
    if (PyList_GET_SIZE(lines.get()) > 0) append(lines.get(), py_str<"">());
    Ref type = get(block, py_str<"type">());
    if (compares(type.get(), py_str<"heading">(), Py_EQ)) {
      render_heading(lines.get(), block);
    } else if (compares(type.get(), py_str<"list">(), Py_EQ)) {
      render_list(lines.get(), block);
    } else if (compares(type.get(), py_str<"table">(), Py_EQ)) {
      render_table(lines.get(), block);
    } else {
      render_text(lines.get(), block);
    }
  });
  return lines;
}

}  // namespace velmora
