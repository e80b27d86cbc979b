// Text semantics shared by every step, read straight from the interpreter's
// own string storage (1-, 2- or 4-byte kinds) without converting to UTF-8.
//
// Whitespace is exactly Python's str.isspace() set, so stripping here equals
// str.strip() / str.rstrip() without arguments.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "binding/objects.hpp"
#include "binding/simd.hpp"

namespace tavrin {

// str.isspace() of one character. Printable ASCII, most of any text, is
// told apart by one comparison before the interpreter's table is read.
inline bool is_space(Py_UCS4 ch) { return ch - 0x21u >= 0x7Fu - 0x21u && Py_UNICODE_ISSPACE(ch); }

// str.splitlines() line boundaries ("\r\n" is handled by the caller).
inline bool is_line_break(Py_UCS4 ch) { return Py_UNICODE_ISLINEBREAK(ch); }

// A half-open range of code point positions.
struct Span {
  Py_ssize_t begin = 0;
  Py_ssize_t end = 0;
  bool empty() const { return begin >= end; }
  Py_ssize_t size() const { return end - begin; }
};

// A read-only view of an exact str.
class StrView {
 public:
  explicit StrView(Borrowed str)
      : kind_(PyUnicode_KIND(str.get())), data_(PyUnicode_DATA(str.get())), size_(PyUnicode_GET_LENGTH(str)) {}

  Py_ssize_t size() const { return size_; }
  Span all() const { return {0, size_}; }
  Py_UCS4 operator[](Py_ssize_t index) const { return PyUnicode_READ(kind_, data_, index); }

  // The storage kind is looked at once, not for every character.
  Span strip(Span span) const {
    return by_kind(
        [&](const auto *chars) { return without_trailing_space(chars, without_leading_space(chars, span)); });
  }
  Span lstrip(Span span) const {
    return by_kind([&](const auto *chars) { return without_leading_space(chars, span); });
  }
  Span rstrip(Span span) const {
    return by_kind([&](const auto *chars) { return without_trailing_space(chars, span); });
  }
  bool is_blank(Span span) const { return lstrip(span).empty(); }
  // Position of the first `ch` in `span`, or -1.
  Py_ssize_t find(Py_UCS4 ch, Span span) const;
  // Does `span` hold exactly the ASCII text `ascii`?
  bool equals(Span span, const char *ascii) const;
  bool starts_with(Span span, const char *ascii) const;

 private:
  template <typename Char>
  static Span without_leading_space(const Char *chars, Span span) {
    while (span.begin < span.end && is_space(chars[span.begin])) ++span.begin;
    return span;
  }
  template <typename Char>
  static Span without_trailing_space(const Char *chars, Span span) {
    while (span.end > span.begin && is_space(chars[span.end - 1])) --span.end;
    return span;
  }
  template <class Scan>
  Span by_kind(Scan &&scan) const {
    switch (kind_) {
      case PyUnicode_1BYTE_KIND:
        return scan(static_cast<const Py_UCS1 *>(data_));
      case PyUnicode_2BYTE_KIND:
        return scan(static_cast<const Py_UCS2 *>(data_));
      default:
        return scan(static_cast<const Py_UCS4 *>(data_));
    }
  }

  int kind_;
  const void *data_;
  Py_ssize_t size_;
};

// Is the exact str `str` the ASCII text `text`? Compared on its storage.
inline bool has_ascii_text(Borrowed str, std::string_view text) {
  return PyUnicode_IS_ASCII(str) && PyUnicode_GET_LENGTH(str) == static_cast<Py_ssize_t>(text.size()) &&
         std::memcmp(PyUnicode_1BYTE_DATA(str), text.data(), text.size()) == 0;
}

// A new str for part of `str` (the object itself when the span covers it).
inline Ref substring(Borrowed str, Span span) {
  if (span.begin == 0 && span.end == PyUnicode_GET_LENGTH(str) && PyUnicode_CheckExact(str))
    return Ref::new_reference(str);
  return owned(PyUnicode_Substring(str, span.begin, span.end));
}

// "" as a shared object.
inline Ref empty_str() { return Ref::new_reference(py_str<"">()); }

// str.strip() and str.rstrip() of an exact str.
inline Ref strip(Borrowed str) { return substring(str, StrView(str).strip({0, PyUnicode_GET_LENGTH(str)})); }
inline Ref rstrip(Borrowed str) { return substring(str, StrView(str).rstrip({0, PyUnicode_GET_LENGTH(str)})); }

// str(value).strip(), honouring a str subclass that __str__ may return.
Ref str_stripped(Borrowed value);

// The one way a payload value is read as text: a false value gives "", any
// other value is converted with str(); the result is stripped.
inline Ref trimmed_text(Borrowed value) {
  if (PyUnicode_CheckExact(value)) return strip(value);
  return is_true(value) ? str_stripped(value) : empty_str();
}

// Resizes `text`, a str that nobody else has seen yet, to `length`
// characters, in place where it can; on failure it is left as it was.
void resize_str(Ref &text, Py_ssize_t length);

// Follows, while a text is written, whether it already has the form that the
// report's blank-line rules give a text: lines ended by "\n" alone, none
// ending in whitespace, no two empty lines in a row, none empty at the end
// (one at the start is kept). A text that keeps that form need not be read
// again once it is written; one that loses it is tidied from where it did.
class LineForm {
 public:
  // Where the rules may first change the text followed so far, or -1.
  Py_ssize_t changed_at() const { return changed_at_; }
  bool changed() const { return changed_at_ >= 0; }

  // A piece that breaks no line, ending in `last`.
  void unbroken(Py_UCS4 last) {
    after_space_ = last <= 0x3000 && is_space(last);
    newlines_ = 0;
  }
  // `count` characters written from `position` on.
  template <typename Char>
  void characters(const Char *chars, Py_ssize_t count, Py_ssize_t position) {
    for (Py_ssize_t i = 0; i < count && !changed(); ++i) character(chars[i], position + i);
  }
  void character(Py_UCS4 ch, Py_ssize_t position) {
    if (ch == '\n') return newline(position);
    // No character beyond U+3000 is whitespace (CJK text is all there).
    if ((ch >= 0x20 && ch < 0x7F) || ch > 0x3000) {
      after_space_ = ch == ' ';
      newlines_ = 0;
    } else if (is_line_break(ch)) {
      changed_at_ = position;
    } else {
      after_space_ = is_space(ch);
      newlines_ = 0;
    }
  }
  // A run of ASCII characters whose only control characters are "\n" (none
  // of them whitespace, then, but " ").
  void ascii_lines(const Py_UCS1 *chars, Py_ssize_t count, Py_ssize_t position) {
    for (Py_ssize_t pos = 0; !changed();) {
      const void *found = std::memchr(chars + pos, '\n', static_cast<std::size_t>(count - pos));
      const Py_ssize_t end = found ? static_cast<const Py_UCS1 *>(found) - chars : count;
      if (end > pos) {
        after_space_ = chars[end - 1] == ' ';
        newlines_ = 0;
      }
      if (!found) return;
      newline(position + end);
      pos = end + 1;
    }
  }
  void newline(Py_ssize_t position) {
    if (after_space_ || newlines_ == 2) {
      changed_at_ = position;
    } else {
      ++newlines_;
      after_space_ = false;
    }
  }
  // The text ends after `length` characters.
  void end(Py_ssize_t length) {
    if (!changed() && length > 0 && (after_space_ || newlines_ > 0)) changed_at_ = length - 1;
  }

 private:
  Py_ssize_t changed_at_ = -1;
  bool after_space_ = false;  // the text so far ends in whitespace
  int newlines_ = 1;          // "\n" ending the text so far (up to 2); the start counts as one
};

// Does `span` of an ASCII str hold a control character (any byte below
// 0x20, line breaks among them)? Eight bytes are tested at a time, the last
// eight overlapping those before when the span is not a multiple of eight.
inline bool has_ascii_control(const Py_UCS1 *chars, Span span) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u;
  // A byte below 0x20 borrows in the subtraction: its top bit is set where
  // the (ASCII) byte's own top bit is clear.
  const auto has_control = [&](Py_ssize_t at) {
    std::uint64_t bytes;
    std::memcpy(&bytes, chars + at, sizeof bytes);
    return ((bytes - 0x20 * kOnes) & ~bytes & 0x80 * kOnes) != 0;
  };
  if (span.size() < 8) {
    for (Py_ssize_t i = span.begin; i < span.end; ++i)
      if (chars[i] < 0x20) return true;
    return false;
  }
  for (Py_ssize_t i = span.begin; i + 8 < span.end; i += 8)
    if (has_control(i)) return true;
  return has_control(span.end - 8);
}

// Builds a new str piece by piece, in the narrowest storage kind that holds
// it. The text is written straight into the storage of the str it will
// become: a str of its own, which nobody else sees until finish() hands it
// over, grown (and widened) as the pieces need.
class TextWriter {
 public:
  explicit TextWriter(Py_ssize_t expected_length = 0) : expected_(expected_length) {}
  TextWriter(const TextWriter &) = delete;
  TextWriter &operator=(const TextWriter &) = delete;

  // Follow the line form of everything written from now on (see LineForm).
  void follow_line_form() { following_ = true; }
  // Where the blank-line rules would first change the text written, or -1.
  Py_ssize_t line_form_changed_at() const {
    LineForm form = form_;
    form.end(length_);
    return form.changed_at();
  }

  void write(PyObject *str, Span span) {
    if (span.empty()) return;
    const Py_ssize_t start = length_;
    if (PyUnicode_KIND(str) == PyUnicode_1BYTE_KIND && kind_ == PyUnicode_2BYTE_KIND &&
        fits(span.size(), PyUnicode_MAX_CHAR_VALUE(str))) {
      // The common case, ASCII into the UCS-2 of a report with CJK headings:
      // the pass that widens it also finds any control character.
      const Py_UCS1 *chars = PyUnicode_1BYTE_DATA(str);
      const Controls controls = widen(chars + span.begin, static_cast<Py_UCS2 *>(data_) + length_, span.size());
      length_ += span.size();
      if (!following_ || form_.changed()) return;
      if (PyUnicode_IS_ASCII(str)) return follow_ascii(chars + span.begin, span.size(), start, controls);
      return follow_written(start);
    }
    copy(str, span);
    if (following_ && !form_.changed()) follow(str, span, start);
  }
  // A piece the caller knows to hold no line break (a line of a text split at
  // its breaks, say): only its last character matters to the line form.
  void write_unbroken(PyObject *str, Span span) {
    if (span.empty()) return;
    copy(str, span);
    if (following_ && !form_.changed()) form_.unbroken(PyUnicode_READ(kind_, data_, length_ - 1));
  }
  void write(PyObject *str) { write(str, {0, PyUnicode_GET_LENGTH(str)}); }
  void write_unbroken(PyObject *str) { write_unbroken(str, {0, PyUnicode_GET_LENGTH(str)}); }
  void write_char(Py_UCS4 ch) {
    if (!fits(1, ch)) grow(1, ch);
    PyUnicode_WRITE(kind_, data_, length_++, ch);
    if (following_ && !form_.changed()) form_.character(ch, length_ - 1);
  }
  // A run of ASCII characters: a marker, or pieces gathered into one.
  void write_ascii(const char *ascii, Py_ssize_t length) {
    if (length == 0) return;
    if (!fits(length, 0x7F)) grow(length, 0x7F);
    const auto *chars = reinterpret_cast<const Py_UCS1 *>(ascii);
    const Py_ssize_t start = length_;
    // Other storage kinds: the run's control characters are found apart.
    Controls controls = Controls::others;
    switch (kind_) {
      case PyUnicode_1BYTE_KIND:
        std::memcpy(static_cast<Py_UCS1 *>(data_) + length_, ascii, static_cast<std::size_t>(length));
        if (following_ && !has_ascii_control(chars, {0, length})) controls = Controls::none;
        break;
      case PyUnicode_2BYTE_KIND:
        controls = widen(chars, static_cast<Py_UCS2 *>(data_) + length_, length);
        break;
      default:
        widen_ascii(static_cast<Py_UCS4 *>(data_) + length_, ascii, length);
        if (following_ && !has_ascii_control(chars, {0, length})) controls = Controls::none;
    }
    length_ += length;
    if (!following_ || form_.changed()) return;
    follow_ascii(chars, length, start, controls);
  }
  // Room for `length` more characters (a hint: writing more still works).
  void reserve(Py_ssize_t length) {
    if (length > capacity_ - length_) grow(length, 0x7F);
  }
  // The text written; the writer is empty afterwards. The str is new and
  // only the caller holds it, so until it is handed on it may be rewritten
  // where it lies.
  Ref finish();

 private:
  bool fits(Py_ssize_t length, Py_UCS4 maxchar) const { return maxchar <= maxchar_ && length <= capacity_ - length_; }
  // Copies a non-empty piece; returns where it starts. Most pieces are short
  // and no wider than the text so far: they are copied at once; the others
  // first grow or widen the storage.
  Py_ssize_t copy(PyObject *str, Span span) {
    const Py_ssize_t start = length_;
    if (!fits(span.size(), PyUnicode_MAX_CHAR_VALUE(str))) {
      write_growing(str, span);
      return start;
    }
    const int kind = PyUnicode_KIND(str);
    const char *chars = static_cast<const char *>(PyUnicode_DATA(str)) + span.begin * kind;
    // Most pieces are ASCII going into ASCII or into the UCS-2 of a report
    // with CJK headings: those two copies stay inline.
    if (kind == kind_) {
      std::memcpy(static_cast<char *>(data_) + length_ * kind_, chars, static_cast<std::size_t>(span.size() * kind));
      length_ += span.size();
    } else if (kind == PyUnicode_1BYTE_KIND && kind_ == PyUnicode_2BYTE_KIND) {
      widen(reinterpret_cast<const Py_UCS1 *>(chars), static_cast<Py_UCS2 *>(data_) + length_, span.size());
      length_ += span.size();
    } else {
      copy_in(chars, kind, span.size());
    }
    return start;
  }
  // What a run of one-byte characters held: no control character, only
  // "\n" among them, or others.
  enum class Controls { none, newlines, others };

  // One-byte characters into two-byte storage, telling which control
  // characters (below 0x20) were among them. Eight or sixteen at a time
  // where the build has the vector scans.
  static Controls widen(const Py_UCS1 *from, Py_UCS2 *to, Py_ssize_t length) {
    Py_ssize_t i = 0;
#if TAVRIN_VECTOR_SCANS
    unsigned controls = 0;
    unsigned newlines = 0;
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= length; i += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + i));
      _mm_storeu_si128(reinterpret_cast<__m128i *>(to + i), _mm_unpacklo_epi8(bytes, zero));
      _mm_storeu_si128(reinterpret_cast<__m128i *>(to + i + 8), _mm_unpackhi_epi8(bytes, zero));
      controls |= simd::bits_below(bytes, 0x20);
      newlines |= simd::bits_equal(bytes, '\n');
    }
    // Eight at a time for the rest; the last eight may overlap those before.
    if (length >= 8) {
      for (;; i += 8) {
        if (i + 8 > length) i = length - 8;
        const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(from + i));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(to + i), _mm_unpacklo_epi8(bytes, zero));
        controls |= simd::bits_below(bytes, 0x20) & 0xFF;
        newlines |= simd::bits_equal(bytes, '\n') & 0xFF;
        if (i + 8 == length) return controls_of(controls, newlines);
      }
    }
#endif
    // One at a time (all of a short piece, or everything in a scalar build).
    const Py_ssize_t from_here = i;
    bool control = false;
    bool newline = false;
    for (; i < length; ++i) {
      to[i] = from[i];
      control |= from[i] < 0x20;
      newline |= from[i] == '\n';
    }
    if (!control) return Controls::none;
    if (!newline) return Controls::others;
    // Both seen: the flags cannot tell whether any control was not a "\n".
    for (i = from_here; i < length; ++i)
      if (from[i] < 0x20 && from[i] != '\n') return Controls::others;
    return Controls::newlines;
  }
  // `controls` and `newlines` as masks over the same characters: the
  // newlines are controls, so others remain exactly when the mask of
  // controls holds more than the newlines.
  static Controls controls_of(unsigned controls, unsigned newlines) {
    if (!controls) return Controls::none;
    return (controls & ~newlines) ? Controls::others : Controls::newlines;
  }
  template <typename Char>
  static void widen_ascii(Char *to, const char *ascii, Py_ssize_t length) {
    for (Py_ssize_t i = 0; i < length; ++i) to[i] = static_cast<Char>(ascii[i]);
  }
  // The line form after `span` of `str`, written from `start` on: a piece of
  // an ASCII str without control characters breaks no line.
  void follow(PyObject *str, Span span, Py_ssize_t start) {
    if (PyUnicode_IS_ASCII(str) && !has_ascii_control(PyUnicode_1BYTE_DATA(str), span))
      return form_.unbroken(PyUnicode_1BYTE_DATA(str)[span.end - 1]);
    follow_written(start);
  }
  // The line form after `length` ASCII characters written from `start` on,
  // whose control characters were found to be `controls`.
  void follow_ascii(const Py_UCS1 *chars, Py_ssize_t length, Py_ssize_t start, Controls controls) {
    if (controls == Controls::none) return form_.unbroken(chars[length - 1]);
    // Lines gathered into one piece: only their "\n" need following.
    if (controls == Controls::newlines) return form_.ascii_lines(chars, length, start);
    follow_written(start);
  }
  // The line form after the characters written from `start` on.
  void follow_written(Py_ssize_t start);
  // Characters of any kind whose values the storage holds, converted as they go.
  void copy_in(const void *chars, int kind, Py_ssize_t length);
  void write_growing(PyObject *str, Span span);
  // Room for `more` characters up to `maxchar`: a larger or wider storage.
  void grow(Py_ssize_t more, Py_UCS4 maxchar);

  Ref storage_;           // a str of `capacity_` characters, or none yet
  void *data_ = nullptr;  // its characters
  int kind_ = PyUnicode_1BYTE_KIND;
  Py_UCS4 maxchar_ = 0;    // the largest character its kind (and ASCII flag) hold
  Py_ssize_t length_ = 0;  // characters written
  Py_ssize_t capacity_ = 0;
  Py_ssize_t expected_;  // the first storage's size, at least
  bool following_ = false;
  LineForm form_;
};

// str(integer) of an int, made once to be written any number of times: the
// digits of one that fits a machine word are made here, without a str in
// between.
class Decimal {
 public:
  explicit Decimal(std::int64_t value) { digits_of(value); }
  explicit Decimal(Borrowed integer) {
    int overflow = 0;
    const std::int64_t value = check_value(PyLong_AsLongLongAndOverflow(integer, &overflow));
    if (overflow) {
      str_ = to_str(integer);
    } else {
      digits_of(value);
    }
  }
  Decimal(const Decimal &) = delete;
  Decimal &operator=(const Decimal &) = delete;

  template <class Writer>
  void write_to(Writer &out) const {
    if (str_) return out.write_unbroken(str_.get());
    out.write_ascii(first_, digits_ + sizeof digits_ - first_);
  }

 private:
  // Filled from the end; the magnitude is taken as unsigned so that the
  // most negative value has one too.
  void digits_of(std::int64_t value) {
    first_ = digits_ + sizeof digits_;
    std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    do {
      *--first_ = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude);
    if (value < 0) *--first_ = '-';
  }

  char digits_[24];
  char *first_ = digits_;
  Ref str_;  // str() of an int beyond a machine word
};

// The pieces (each a str) joined without separator.
Ref concat(std::initializer_list<PyObject *> pieces);

}  // namespace tavrin
