// Related products and recommended ASINs as link lines. Items are plain
// strings or the front end's link objects; the two lists differ only in
// whether a link's source is shown.
#include "velmora/links.hpp"

#include "binding/objects.hpp"
#include "velmora/self_call.hpp"

namespace velmora {

using namespace tavrin;

namespace {

// Writes a piece of a line; a piece that is not a str (only an overridden
// strip can produce one) is written as str() gives it.
template <class Sink>
void write_piece(Sink &sink, PyObject *piece) {
  if (PyUnicode_Check(piece)) {
    sink.write(piece);
  } else {
    sink.write(to_str(piece).get());
  }
}

// "- " and the stripped string, when that is not empty.
template <class Sink>
void write_string_item(Sink &sink, PyObject *item) {
  if (PyUnicode_CheckExact(item)) {
    const StrView view(item);
    const Span text = view.strip(view.all());
    if (text.empty()) return;
    sink.begin_line();
    sink.write_ascii("- ", 2);
    sink.write(item, text);
    return;
  }
  // A str subclass strips itself, as its own method says.
  Ref text = call_method(item, py_str<"strip">());
  if (!is_true(text.get())) return;
  sink.begin_line();
  sink.write_ascii("- ", 2);
  write_piece(sink, text.get());
}

Ref field(PyObject *item, PyObject *key) {
  Ref value = get(item, key);
  return trimmed_text(value.get());
}

// "  " and the text, when that is not empty.
template <class Sink>
void write_indented(Sink &sink, PyObject *text) {
  if (!is_true(text)) return;
  sink.begin_line();
  sink.write_ascii("  ", 2);
  write_piece(sink, text);
}

template <class Sink>
void write_link_object(Sink &sink, PyObject *item, bool include_source) {
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
    sink.begin_line();
    sink.write_ascii("- ", 2);
    if (has_asin) write_piece(sink, asin.get());
    if (has_asin && has_title) sink.write_ascii(" - ", 3);
    if (has_title) write_piece(sink, title.get());
    if (show_source) {
      if (has_asin || has_title) sink.write_char(' ');
      sink.write_char('(');
      write_piece(sink, source.get());
      sink.write_char(')');
    }
  }
  write_indented(sink, href.get());
  write_indented(sink, description.get());
}

}  // namespace

template <class Sink>
void write_link_items(PyObject *raw_items, bool include_source, Sink &sink) {
  if (!PyList_Check(raw_items)) return;
  for_each(raw_items, [&](PyObject *item) {
    if (PyUnicode_Check(item)) {
      write_string_item(sink, item);
    } else if (PyDict_Check(item)) {
      write_link_object(sink, item, include_source);
    }
  });
}

template void write_link_items(PyObject *, bool, HeadedSink &);
template void write_link_items(PyObject *, bool, ListSink &);

Ref format_product_links(PyObject *self, Args args) {
  return expect_result(call_format_link_items(self, args[0], false), &PyList_Type);
}

Ref format_recommended_asins(PyObject *self, Args args) {
  return expect_result(call_format_link_items(self, args[0], true), &PyList_Type);
}

Ref format_link_items(PyObject *, Args args) {
  ListSink lines;
  write_link_items(args[0], args[1] == Py_True, lines);
  return lines.finish();
}

}  // namespace velmora
