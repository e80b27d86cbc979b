#include "binding/text.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

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

namespace {

// Characters from which a text counts as long when it grows.
constexpr Py_ssize_t kLongText = 64 * 1024;

// The largest character of the storage class that holds `ch`: the
// interpreter keeps every str in the narrowest of ASCII, Latin-1, UCS-2 and
// UCS-4 that holds all its characters.
Py_UCS4 storage_class_top(Py_UCS4 ch) {
  if (ch < 0x80) return 0x7F;
  if (ch < 0x100) return 0xFF;
  if (ch < 0x10000) return 0xFFFF;
  return 0x10FFFF;
}

Py_UCS4 max_char(PyObject *str, Span span) {
  const StrView view(str);
  Py_UCS4 max = 0;
  for (Py_ssize_t i = span.begin; i < span.end; ++i) max = std::max(max, view[i]);
  return max;
}

// Characters from one storage kind to another; a narrower target is only
// chosen when every character fits it.
template <typename From, typename To>
void convert(const void *source, void *target, Py_ssize_t length) {
  const auto *from = static_cast<const From *>(source);
  auto *to = static_cast<To *>(target);
  for (Py_ssize_t i = 0; i < length; ++i) to[i] = static_cast<To>(from[i]);
}

template <typename From>
void convert_to(int kind, const void *source, void *target, Py_ssize_t length) {
  switch (kind) {
    case PyUnicode_1BYTE_KIND:
      return convert<From, Py_UCS1>(source, target, length);
    case PyUnicode_2BYTE_KIND:
      return convert<From, Py_UCS2>(source, target, length);
    default:
      return convert<From, Py_UCS4>(source, target, length);
  }
}

void copy_chars(int from_kind, const void *source, int to_kind, void *target, Py_ssize_t length) {
  if (from_kind == to_kind) {
    std::memcpy(target, source, static_cast<std::size_t>(length) * static_cast<std::size_t>(to_kind));
    return;
  }
  switch (from_kind) {
    case PyUnicode_1BYTE_KIND:
      return convert_to<Py_UCS1>(to_kind, source, target, length);
    case PyUnicode_2BYTE_KIND:
      return convert_to<Py_UCS2>(to_kind, source, target, length);
    default:
      return convert_to<Py_UCS4>(to_kind, source, target, length);
  }
}

}  // namespace

void TextWriter::follow_written(Py_ssize_t start) {
  if (form_.changed()) return;
  switch (kind_) {
    case PyUnicode_1BYTE_KIND:
      return form_.characters(static_cast<const Py_UCS1 *>(data_) + start, length_ - start, start);
    case PyUnicode_2BYTE_KIND:
      return form_.characters(static_cast<const Py_UCS2 *>(data_) + start, length_ - start, start);
    default:
      return form_.characters(static_cast<const Py_UCS4 *>(data_) + start, length_ - start, start);
  }
}

void TextWriter::copy_in(const void *chars, int kind, Py_ssize_t length) {
  copy_chars(kind, chars, kind_, static_cast<char *>(data_) + length_ * kind_, length);
  length_ += length;
}

// A piece of a wider str may hold only narrower characters: the storage
// widens only as far as they need.
void TextWriter::write_growing(PyObject *str, Span span) {
  Py_UCS4 maxchar = PyUnicode_MAX_CHAR_VALUE(str);
  if (maxchar > maxchar_) maxchar = max_char(str, span);
  if (!fits(span.size(), maxchar)) grow(span.size(), maxchar);
  const int kind = PyUnicode_KIND(str);
  copy_in(static_cast<const char *>(PyUnicode_DATA(str)) + span.begin * kind, kind, span.size());
}

void TextWriter::grow(Py_ssize_t more, Py_UCS4 maxchar) {
  if (more > PY_SSIZE_T_MAX - length_) {
    PyErr_NoMemory();
    throw_error();
  }
  const Py_ssize_t needed = length_ + more;
  Py_ssize_t capacity = std::max({needed, expected_, capacity_, Py_ssize_t{1}});
  // Growing by a little at a time would copy the text again and again; a
  // long text grows by a quarter, as the interpreter's own writer does, so
  // that it never holds much more memory than it needs.
  if (needed > capacity_ && capacity_ > 0) {
    const Py_ssize_t step = capacity_ < kLongText ? capacity_ / 2 : capacity_ / 4;
    capacity = std::max(capacity, capacity_ + std::min(step, PY_SSIZE_T_MAX - capacity_));
  }
  const Py_UCS4 top = storage_class_top(std::max(maxchar, maxchar_));

  if (!storage_ || top > maxchar_) {
    Ref wider = owned(PyUnicode_New(capacity, top));
    if (length_) copy_chars(kind_, data_, PyUnicode_KIND(wider.get()), PyUnicode_DATA(wider.get()), length_);
    storage_ = std::move(wider);
  } else {
    resize_str(storage_, capacity);
  }
  data_ = PyUnicode_DATA(storage_.get());
  kind_ = PyUnicode_KIND(storage_.get());
  maxchar_ = top;
  capacity_ = capacity;
}

Ref TextWriter::finish() {
  Ref text = std::move(storage_);
  const Py_ssize_t length = std::exchange(length_, 0);
  data_ = nullptr;
  kind_ = PyUnicode_1BYTE_KIND;
  maxchar_ = 0;
  capacity_ = 0;
  if (!text) return empty_str();
  resize_str(text, length);
  return text;
}

void resize_str(Ref &text, Py_ssize_t length) {
  PyObject *str = text.release();
  const int status = PyUnicode_Resize(&str, length);
  text = Ref::steal(str);
  check(status);
}

Ref concat(std::initializer_list<PyObject *> pieces) {
  Py_ssize_t length = 0;
  for (PyObject *piece : pieces) length += PyUnicode_GET_LENGTH(piece);
  TextWriter writer(length);
  for (PyObject *piece : pieces) writer.write(piece);
  return writer.finish();
}

Ref str_stripped(Borrowed value) {
  Ref text = to_str(value);
  // __str__ may hand back a str subclass, whose own strip() then applies.
  if (!PyUnicode_CheckExact(text.get())) return call_method(text.get(), py_str<"strip">());
  return strip(text.get());
}

}  // namespace tavrin
