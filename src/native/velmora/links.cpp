// Related products and recommended ASINs as link lines. Items are plain
// strings or the front end's link objects; the two lists differ only in
// whether a link's source is shown.
#include "binding/objects.hpp"
#include "binding/text.hpp"
#include "velmora/self_call.hpp"

namespace velmora {

using namespace tavrin;

namespace {

// Writes a piece of a line; a piece that is not a str (only an overridden
// strip can produce one) is written as str() gives it.
void write_piece(TextWriter &writer, PyObject *piece) {
  if (PyUnicode_Check(piece)) {
    writer.write(piece);
  } else {
    writer.write(to_str(piece).get());
  }
}

// "- " and the stripped string, when that is not empty.
void append_string_item(PyObject *lines, PyObject *item) {
  if (PyUnicode_CheckExact(item)) {
    const StrView view(item);
    const Span text = view.strip(view.all());
    if (text.empty()) return;
    TextWriter writer(2 + text.size());
    writer.write_ascii("- ", 2);
    writer.write(item, text);
    append(lines, writer.finish().get());
    return;
  }
  // A str subclass strips itself, as its own method says.
  Ref text = call_method(item, py_str<"strip">());
  if (!is_true(text.get())) return;
  TextWriter writer;
  writer.write_ascii("- ", 2);
  write_piece(writer, text.get());
  append(lines, writer.finish().get());
}

Ref field(PyObject *item, PyObject *key) {
  Ref value = get(item, key);
  return trimmed_text(value.get());
}

// "  " and the text, when that is not empty.
void append_indented(PyObject *lines, PyObject *text) {
  if (!is_true(text)) return;
  TextWriter writer;
  writer.write_ascii("  ", 2);
  write_piece(writer, text);
  append(lines, writer.finish().get());
}

void append_link_object(PyObject *lines, PyObject *item, bool include_source) {
  Ref asin = field(item, py_str<"asin">());
  // The address stands in for a title only when the raw title is false, so a
  // title of whitespace leaves the label without one.
  Ref raw_title = get(item, py_str<"title">());
  if (!is_true(raw_title.get())) raw_title = get(item, py_str<"href">());
  Ref title = trimmed_text(raw_title.get());
  Ref href = field(item, py_str<"href">());
  Ref source = field(item, py_str<"source">());
  Ref description = field(item, py_str<"description">());

  const bool has_asin = is_true(asin.get());
  const bool has_title = is_true(title.get());
  const bool show_source = include_source && is_true(source.get());
  if (has_asin || has_title || show_source) {
    TextWriter label;
    label.write_ascii("- ", 2);
    if (has_asin) write_piece(label, asin.get());
    if (has_asin && has_title) label.write_ascii(" - ", 3);
    if (has_title) write_piece(label, title.get());
    if (show_source) {
      if (has_asin || has_title) label.write_char(' ');
      label.write_char('(');
      write_piece(label, source.get());
      label.write_char(')');
    }
    append(lines, label.finish().get());
  }
  append_indented(lines, href.get());
  append_indented(lines, description.get());
}

}  // namespace

Ref format_product_links(PyObject *self, Args args) {
  return expect_result(call_format_link_items(self, args[0], false), &PyList_Type);
}

Ref format_recommended_asins(PyObject *self, Args args) {
  return expect_result(call_format_link_items(self, args[0], true), &PyList_Type);
}

Ref format_link_items(PyObject *, Args args) {
  PyObject *raw_items = args[0];
  const bool include_source = args[1] == Py_True;
  Ref lines = new_list();
  if (!PyList_Check(raw_items)) return lines;
  for_each(raw_items, [&](PyObject *item) {
    if (PyUnicode_Check(item)) {
      append_string_item(lines.get(), item);
    } else if (PyDict_Check(item)) {
      append_link_object(lines.get(), item, include_source);
    }
  });
  return lines;
}

}  // namespace velmora
