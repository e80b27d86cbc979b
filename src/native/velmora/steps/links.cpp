// Related products and recommended ASINs as link lines. Items are plain
// strings or the front end's link objects; the two lists differ only in
// whether a link's source is shown.
#include "velmora/steps/links.hpp"

#include <array>
#include <optional>

#include "binding/objects.hpp"
#include "binding/text.hpp"
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

// The five keys of a link object.
enum class LinkKey { asin, title, href, source, description, count };

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

// The one reading of a link object, in the step's order: the ASIN, the raw
// title (or, when that is false, the raw address in its place), the address,
// the source and the description, each as a trimmed text. A title of
// whitespace is true, so it leaves the label without a title.
//   `Fields` gives raw(key), is_true(raw) and part(raw), a trimmed text.
template <class Sink, class Fields>
void write_link_object(Sink &sink, Fields &fields, bool include_source) {
  const auto asin = fields.part(fields.raw(LinkKey::asin));
  const auto raw_title = fields.raw(LinkKey::title);
  const auto title = fields.is_true(raw_title) ? fields.part(raw_title) : fields.part(fields.raw(LinkKey::href));
  const auto href = fields.part(fields.raw(LinkKey::href));
  const auto source = fields.part(fields.raw(LinkKey::source));
  const auto description = fields.part(fields.raw(LinkKey::description));
  write_link_lines(sink, asin, title, source, href, description, include_source);
}

// A link object read as Python reads it: each key through its get.
class ReadFields {
 public:
  explicit ReadFields(Borrowed item) : item_(item) {}

  // A trimmed text: shown when true, written as str() gives it.
  struct Part {
    Ref text;
    bool shown() const { return tavrin::is_true(text.get()); }
    template <class Sink>
    void write_to(Sink &sink) const {
      write_piece(sink, text.get());
    }
  };

  Ref raw(LinkKey key) const { return get(item_, key_name(key)); }
  static bool is_true(const Ref &raw) { return tavrin::is_true(raw.get()); }
  static Part part(const Ref &raw) { return {trimmed_text(raw.get())}; }

 private:
  static PyObject *key_name(LinkKey key) {
    switch (key) {
      case LinkKey::asin:
        return py_str<"asin">();
      case LinkKey::title:
        return py_str<"title">();
      case LinkKey::href:
        return py_str<"href">();
      case LinkKey::source:
        return py_str<"source">();
      default:
        return py_str<"description">();
    }
  }

  Borrowed item_;
};

// A link object whose reading runs no Python code: an exact dict whose keys
// are all exact str, each value read an exact str or missing. One pass over
// its entries then finds all five values, as the lookups would, but without
// a lookup per key.
class PlainFields {
 public:
  // The stripped span of an exact str; empty when the key is missing.
  struct Part {
    PyObject *text = nullptr;
    Span span;
    bool shown() const { return !span.empty(); }
    template <class Sink>
    void write_to(Sink &sink) const {
      sink.write(text, span);
    }
  };

  // False when reading `item` could run Python code.
  bool read(PyObject *item) {
    if (!PyDict_CheckExact(item) || !read_entries(item, slot_of, values_)) return false;
    for (const tavrin::HeldValue &value : values_)
      if (value.get() && !PyUnicode_CheckExact(value.get())) return false;
    return true;
  }

  PyObject *raw(LinkKey key) const { return values_[static_cast<std::size_t>(key)].get(); }
  static bool is_true(PyObject *raw) { return raw && PyUnicode_GET_LENGTH(raw) > 0; }
  static Part part(PyObject *raw) {
    if (!raw) return {};
    const StrView view(raw);
    return {raw, view.strip(view.all())};
  }

 private:
  static int slot_of(PyObject *key) {
    switch (PyUnicode_GET_LENGTH(key)) {
      case 4:
        if (has_ascii_text(key, "asin")) return static_cast<int>(LinkKey::asin);
        return has_ascii_text(key, "href") ? static_cast<int>(LinkKey::href) : -1;
      case 5:
        return has_ascii_text(key, "title") ? static_cast<int>(LinkKey::title) : -1;
      case 6:
        return has_ascii_text(key, "source") ? static_cast<int>(LinkKey::source) : -1;
      case 11:
        return has_ascii_text(key, "description") ? static_cast<int>(LinkKey::description) : -1;
      default:
        return -1;
    }
  }

  // Held while the caller holds the dict and its lines are written.
  std::array<tavrin::HeldValue, static_cast<std::size_t>(LinkKey::count)> values_{};
};

// False when reading the object ran (or may have run) Python code.
template <class Sink>
bool write_link_item(Sink &sink, PyObject *item, bool include_source) {
  if (PlainFields plain; plain.read(item)) {
    write_link_object(sink, plain, include_source);
    return true;
  }
  ReadFields fields(item);
  write_link_object(sink, fields, include_source);
  return false;
}

}  // namespace

template <class Sink>
bool write_link_items(Borrowed raw_items, bool include_source, Sink &sink) {
  if (!PyList_Check(raw_items)) return true;
  // A list subclass may iterate in Python.
  bool plain = PyList_CheckExact(raw_items);
  // A link's line is mostly short ASCII pieces: written as one run.
  AsciiRuns<Sink> runs(sink);
  for_each(raw_items, [&](PyObject *item) {
    if (PyUnicode_Check(item)) {
      plain &= PyUnicode_CheckExact(item);
      write_string_item(runs, item);
    } else if (PyDict_Check(item)) {
      plain &= write_link_item(runs, item, include_source);
    }
  });
  runs.finish();
  return plain;
}

template bool write_link_items(Borrowed, bool, HeadedSink &);
template bool write_link_items(Borrowed, bool, ListSink &);

Ref format_product_links(PyObject *instance, Args args) {
  const Self self(instance);
  return expect_result(call_format_link_items(self, args[0], false), &PyList_Type);
}

Ref format_recommended_asins(PyObject *instance, Args args) {
  const Self self(instance);
  return expect_result(call_format_link_items(self, args[0], true), &PyList_Type);
}

Ref format_link_items(PyObject *, Args args) {
  ListSink lines;
  write_link_items(args[0], args[1] == Py_True, lines);
  return lines.finish();
}

}  // namespace velmora
