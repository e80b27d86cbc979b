// Related products and recommended ASINs as link lines. Items are plain
// strings or the front end's link objects; the two lists differ only in
// whether a link's source is shown.
#include "velmora/steps/links.hpp"

#include "binding/objects.hpp"
#include "velmora/class/self_call.hpp"

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

// A link object's lines from its five parts: "- ASIN - TITLE (SOURCE)" with
// what is shown of those, then the address and the description indented.
// A part says whether it shows, and writes itself; the label's parts are
// asked first, each indented part just before it is written.
template <class Sink, class Part>
void write_link_lines(Sink &sink, const Part &asin, const Part &title, const Part &source, const Part &href,
                      const Part &description, bool include_source) {
  const bool has_asin = asin.shown();
  const bool has_title = title.shown();
  const bool show_source = include_source && source.shown();
  if (has_asin || has_title || show_source) {
    sink.begin_line();
    sink.write_ascii("- ", 2);
    if (has_asin) asin.write_to(sink);
    if (has_asin && has_title) sink.write_ascii(" - ", 3);
    if (has_title) title.write_to(sink);
    if (show_source) {
      if (has_asin || has_title) sink.write_char(' ');
      sink.write_char('(');
      source.write_to(sink);
      sink.write_char(')');
    }
  }
  for (const Part *indented : {&href, &description}) {
    if (!indented->shown()) continue;
    sink.begin_line();
    sink.write_ascii("  ", 2);
    indented->write_to(sink);
  }
}

// A part as Python reads it: shown when true, written as str() gives it.
struct ReadPart {
  Ref text;
  bool shown() const { return is_true(text.get()); }
  template <class Sink>
  void write_to(Sink &sink) const {
    write_piece(sink, text.get());
  }
};

// The values a link object holds under the five keys read, when reading them
// runs no Python code: an exact dict whose keys are all exact str, each value
// read an exact str or missing. One pass over the entries then reads all five
// as the lookups would, but without a lookup per key.
struct PlainLink {
  Ref asin, title, href, source, description;
};

// The field that `key`, an exact str, names, or nullptr.
Ref *field_for(PlainLink &link, PyObject *key) {
  switch (PyUnicode_GET_LENGTH(key)) {
    case 4:
      if (has_ascii_text(key, "asin")) return &link.asin;
      if (has_ascii_text(key, "href")) return &link.href;
      return nullptr;
    case 5:
      return has_ascii_text(key, "title") ? &link.title : nullptr;
    case 6:
      return has_ascii_text(key, "source") ? &link.source : nullptr;
    case 11:
      return has_ascii_text(key, "description") ? &link.description : nullptr;
    default:
      return nullptr;
  }
}

bool read_plain_link(PyObject *item, PlainLink &link) {
  if (!PyDict_CheckExact(item)) return false;
  Py_ssize_t position = 0;
  PyObject *key = nullptr;
  PyObject *value = nullptr;
  while (PyDict_Next(item, &position, &key, &value)) {
    if (!PyUnicode_CheckExact(key)) return false;
    Ref *field = field_for(link, key);
    if (!field) continue;
    if (!PyUnicode_CheckExact(value)) return false;
    *field = Ref::new_reference(value);
  }
  return true;
}

// A part of a plain link: the stripped span of an exact str, empty when the
// key is missing.
struct PlainPart {
  PyObject *text = nullptr;
  Span span;

  explicit PlainPart(const Ref &value) : text(value.get()) {
    if (!text) return;
    const StrView view(text);
    span = view.strip(view.all());
  }
  bool shown() const { return !span.empty(); }
  template <class Sink>
  void write_to(Sink &sink) const {
    sink.write(text, span);
  }
};

template <class Sink>
void write_plain_link(Sink &sink, const PlainLink &link, bool include_source) {
  // The address stands in for a title only when the title is missing or
  // empty, so a title of whitespace leaves the label without one.
  const bool has_raw_title = link.title && PyUnicode_GET_LENGTH(link.title.get()) > 0;
  write_link_lines(sink, PlainPart(link.asin), PlainPart(has_raw_title ? link.title : link.href),
                   PlainPart(link.source), PlainPart(link.href), PlainPart(link.description), include_source);
}

template <class Sink>
void write_link_object(Sink &sink, PyObject *item, bool include_source) {
  if (PlainLink link; read_plain_link(item, link)) return write_plain_link(sink, link, include_source);
  Ref asin = field(item, py_str<"asin">());
  // The address stands in for a title only when the raw title is false, so a
  // title of whitespace leaves the label without one.
  Ref raw_title = get(item, py_str<"title">());
  if (!is_true(raw_title.get())) raw_title = get(item, py_str<"href">());
  Ref title = trimmed_text(raw_title.get());
  Ref href = field(item, py_str<"href">());
  Ref source = field(item, py_str<"source">());
  Ref description = field(item, py_str<"description">());

  write_link_lines(sink, ReadPart{std::move(asin)}, ReadPart{std::move(title)}, ReadPart{std::move(source)},
                   ReadPart{std::move(href)}, ReadPart{std::move(description)}, include_source);
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
