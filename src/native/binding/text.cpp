#include "binding/text.hpp"

#include <cstring>

#include "binding/objects.hpp"

namespace tavrin {

namespace {

template <typename Char>
Py_ssize_t find_in(const Char *chars, Py_UCS4 ch, Span span) {
  for (Py_ssize_t i = span.begin; i < span.end; ++i)
    if (chars[i] == ch) return i;
  return -1;
}

}  // namespace

Py_ssize_t StrView::find(Py_UCS4 ch, Span span) const {
  if (span.empty()) return -1;
  switch (kind_) {
    case PyUnicode_1BYTE_KIND: {
      if (ch > 0xFF) return -1;
      const auto *chars = static_cast<const Py_UCS1 *>(data_);
      const void *found = std::memchr(chars + span.begin, static_cast<int>(ch), static_cast<std::size_t>(span.size()));
      return found ? static_cast<const Py_UCS1 *>(found) - chars : -1;
    }
    case PyUnicode_2BYTE_KIND:
      return find_in(static_cast<const Py_UCS2 *>(data_), ch, span);
    default:
      return find_in(static_cast<const Py_UCS4 *>(data_), ch, span);
  }
}

bool StrView::equals(Span span, const char *ascii) const {
  return span.size() == static_cast<Py_ssize_t>(std::strlen(ascii)) && starts_with(span, ascii);
}

bool StrView::starts_with(Span span, const char *ascii) const {
  Py_ssize_t i = span.begin;
  for (; *ascii; ++ascii, ++i)
    if (i >= span.end || (*this)[i] != static_cast<unsigned char>(*ascii)) return false;
  return true;
}

TextWriter::TextWriter(Py_ssize_t expected_length) {
  _PyUnicodeWriter_Init(&writer_);
  writer_.min_length = expected_length;
  writer_.overallocate = 1;
}

TextWriter::~TextWriter() {
  if (!finished_) _PyUnicodeWriter_Dealloc(&writer_);
}

namespace {

template <typename From, typename To>
void widen(const void *source, void *target, Py_ssize_t length) {
  const auto *from = static_cast<const From *>(source);
  auto *to = static_cast<To *>(target);
  for (Py_ssize_t i = 0; i < length; ++i) to[i] = from[i];
}

}  // namespace

void TextWriter::copy_in(const void *chars, int kind, Py_ssize_t length) {
  char *target = static_cast<char *>(writer_.data) + writer_.pos * writer_.kind;
  if (kind == writer_.kind) {
    std::memcpy(target, chars, static_cast<std::size_t>(length) * kind);
  } else if (writer_.kind == PyUnicode_2BYTE_KIND) {
    widen<Py_UCS1, Py_UCS2>(chars, target, length);
  } else if (kind == PyUnicode_1BYTE_KIND) {
    widen<Py_UCS1, Py_UCS4>(chars, target, length);
  } else {
    widen<Py_UCS2, Py_UCS4>(chars, target, length);
  }
  writer_.pos += length;
}

// The interpreter's writer finds the widest character of the piece, so the
// text keeps the narrowest kind that holds it.
void TextWriter::write_widening(PyObject *str, Span span) {
  check(_PyUnicodeWriter_WriteSubstring(&writer_, str, span.begin, span.end));
}

void TextWriter::write_char_widening(Py_UCS4 ch) { check(_PyUnicodeWriter_WriteChar(&writer_, ch)); }

void TextWriter::write_ascii_widening(const char *ascii, Py_ssize_t length) {
  check(_PyUnicodeWriter_WriteASCIIString(&writer_, ascii, length));
}

Ref TextWriter::finish() {
  finished_ = true;
  return owned(_PyUnicodeWriter_Finish(&writer_));
}

Ref concat(std::initializer_list<PyObject *> pieces) {
  Py_ssize_t length = 0;
  for (PyObject *piece : pieces) length += PyUnicode_GET_LENGTH(piece);
  TextWriter writer(length);
  for (PyObject *piece : pieces) writer.write(piece);
  return writer.finish();
}

Ref str_stripped(PyObject *value) {
  if (PyUnicode_CheckExact(value)) return strip(value);
  Ref text = to_str(value);
  // __str__ may hand back a str subclass, whose own strip() then applies.
  if (!PyUnicode_CheckExact(text.get())) return call_method(text.get(), py_str<"strip">());
  return strip(text.get());
}

}  // namespace tavrin
