#include "velmora/steps/blank_lines.hpp"

#include <array>
#include <cstdint>
#include <cstring>
#include "binding/simd.hpp"
#include "binding/text.hpp"

namespace velmora {

using namespace tavrin;
#if TAVRIN_VECTOR_SCANS
using simd::bits_equal;
using simd::plain_bits;
using simd::sixteen_bytes;
#endif

namespace {

enum CharClass : unsigned char { kContent, kSpace, kBreak };

// The classes of the ASCII characters: line breaks are whitespace too, but
// break first.
constexpr auto kAsciiClasses = [] {
  std::array<CharClass, 128> classes{};
  for (unsigned ch : {0x09u, 0x20u, 0x1Fu}) classes[ch] = kSpace;
  for (unsigned ch : {0x0Au, 0x0Bu, 0x0Cu, 0x0Du, 0x1Cu, 0x1Du, 0x1Eu}) classes[ch] = kBreak;
  return classes;
}();

// The end of the run from `pos` of characters in 0x20..0x7F, none of which
// breaks a line or (but for " ") is whitespace. Runs are scanned 16
// characters at a time: most report text is such characters.
template <typename Char>
Py_ssize_t plain_run_end(const Char *chars, Py_ssize_t pos, Py_ssize_t size) {
#if TAVRIN_VECTOR_SCANS
  if constexpr (sizeof(Char) <= 2) {
    while (pos + 16 <= size) {
      const unsigned outside = ~plain_bits(sixteen_bytes(chars + pos)) & 0xFFFF;
      if (outside) return pos + simd::lowest_set_bit(outside);
      pos += 16;
    }
  }
#endif
  while (pos < size && chars[pos] >= 0x20 && chars[pos] < 0x80) ++pos;
  return pos;
}

template <typename Char>
CharClass classify(Char ch) {
  if (ch < 128) return kAsciiClasses[ch];
  // No whitespace lies above U+3000 (CJK text is all beyond it).
  if (ch > 0x3000) return kContent;
  if (is_line_break(ch)) return kBreak;
  return is_space(ch) ? kSpace : kContent;
}

// The smallest code point that needs the storage kind of `text`: when only
// dropped characters reached it, the result needs a narrower kind.
Py_UCS4 widest_kind_start(PyObject *text) {
  switch (PyUnicode_KIND(text)) {
    case PyUnicode_1BYTE_KIND:
      return PyUnicode_IS_ASCII(text) ? 0x110000 : 0x80;
    case PyUnicode_2BYTE_KIND:
      return 0x100;
    default:
      return 0x10000;
  }
}

// Most of a report already reads as the rules would write it. This scan finds
// how far: text whose only breaks are "\n", with no whitespace ending a line,
// no two blank lines in a row, no blank line first but one, and no blank line
// last, is left as it is. It reads 16 characters at a time where they are
// ASCII text, "\n" and (in two-byte text) CJK; others it reads one by one, and
// any whitespace but " " stops it (where the rules may have work to do).
template <typename Char>
class TidyScan {
 public:
  // The position where the scan stopped: `size` when the rules change nothing,
  // else a position at or before the first character they would change.
  Py_ssize_t run(const Char *chars, Py_ssize_t size) {
    Py_ssize_t pos = 0;
#if TAVRIN_VECTOR_SCANS
    if constexpr (sizeof(Char) <= 2)
      for (; pos + 16 <= size; pos += 16)
        if (!block(chars + pos) && !one_by_one(chars, pos, pos + 16)) return pos;
#endif
    if (!one_by_one(chars, pos, size)) return pos;
    if (size > 0 && (after_space_ || chars[size - 1] == '\n')) return size - 1;
    return size;
  }

 private:
  // False when the characters from `pos` to `end` leave something to do.
  bool one_by_one(const Char *chars, Py_ssize_t pos, Py_ssize_t end) {
    for (; pos < end; ++pos) {
      const Char ch = chars[pos];
      if (ch == '\n') {
        if (after_space_ || newlines_ == 2) return false;
        ++newlines_;
        after_space_ = false;
      } else if (ch == ' ' || (ch > 0x20 && ch < 0x80) || (ch >= 0x80 && classify(ch) == kContent)) {
        after_space_ = ch == ' ';
        newlines_ = 0;
      } else {
        return false;
      }
    }
    return true;
  }

#if TAVRIN_VECTOR_SCANS
  // Sixteen characters of ASCII text (or text above U+3000) and "\n"; false
  // when they are not (to be read one by one), or when they leave something
  // to do.
  bool block(const Char *chars) {
    const __m128i bytes = sixteen_bytes(chars);
    const unsigned breaks = bits_equal(bytes, '\n');
    unsigned plain = plain_bits(bytes);
    if constexpr (sizeof(Char) == 2) {
      // Mostly ASCII even then: CJK is looked for only where the rest is not.
      if ((plain | breaks) != 0xFFFF) plain |= simd::above_3000_bits(chars);
    }
    if ((plain | breaks) != 0xFFFF) return false;
    const unsigned spaces = bits_equal(bytes, ' ');
    if (breaks) {
      // Bit i: the character before lane i is " ", or "\n" (one and two back).
      const unsigned space_before = (spaces << 1) | (after_space_ ? 1u : 0u);
      const unsigned break_before = (breaks << 1) | (newlines_ >= 1 ? 1u : 0u);
      const unsigned break_two_before = (breaks << 2) | (newlines_ >= 2 ? 1u : 0u) | (newlines_ >= 1 ? 2u : 0u);
      if (breaks & (space_before | (break_before & break_two_before))) return false;
    }
    after_space_ = (spaces >> 15) & 1;
    newlines_ = (breaks >> 15) & 1 ? ((breaks >> 14) & 1 ? 2 : 1) : 0;
    return true;
  }
#endif

  bool after_space_ = false;  // the text so far ends in " "
  int newlines_ = 1;          // "\n" ending the text so far (up to 2); the start counts as one
};

// Where the rules start work: the start of the line holding `position`, or of
// the blank lines before it, so that the text before ends with a line of
// content and its "\n" (or is empty).
template <typename Char>
Py_ssize_t restart_position(const Char *chars, Py_ssize_t position) {
  Py_ssize_t start = position;
  while (start > 0 && chars[start - 1] != '\n') --start;
  while (start > 0 && (start == 1 || chars[start - 2] == '\n')) --start;
  return start;
}

// One pass over the lines of `in`, writing the kept text to `out`, which may
// be `in` itself: the write position never passes the read position.
template <typename Char>
class Collapse {
 public:
  Collapse(const Char *in, Py_ssize_t size, Char *out, Py_UCS4 kind_start)
      : in_(in), size_(size), out_(out), kind_start_(kind_start) {}

  // The length of the kept text. Its tidy beginning, up to `tidy`, stays as
  // it is (copied when `out` is another string); the rules run from the line
  // where it ends, the text before being the output so far but for the "\n"
  // that ends it.
  Py_ssize_t run(Py_ssize_t tidy) {
    if (tidy == size_) {
      keep_as_is(size_);
      return size_;
    }
    const Py_ssize_t start = restart_position(in_, tidy);
    if (start > 0) {
      keep_as_is(start - 1);
      written_ = start - 1;
      wrote_line_ = true;
    }
    Py_ssize_t pos = start;
    while (pos < size_) pos = line(pos);
    return written_;
  }
  // Did a dropped character need the storage kind?
  bool may_narrow() const { return may_narrow_; }

 private:
  // Handles the line from `start` and returns where the next one starts.
  Py_ssize_t line(Py_ssize_t start) {
    Py_ssize_t pos = start;
    Py_ssize_t content_end = start;
    while (pos < size_) {
      const Py_ssize_t run_end = plain_run_end(in_, pos, size_);
      if (run_end > pos) {
        Py_ssize_t last = run_end;
        while (last > pos && in_[last - 1] == ' ') --last;
        if (last > pos) content_end = last;
        pos = run_end;
        if (pos == size_) break;
      }
      if (in_[pos] == '\n') break;
      const CharClass kind = classify(in_[pos]);
      if (kind == kBreak) break;
      ++pos;
      if (kind == kContent) content_end = pos;
    }
    drop(content_end, pos);
    if (content_end > start) {
      keep(start, content_end);
    } else {
      pending_blank_ = true;
    }
    if (pos == size_) return pos;
    if (in_[pos] == '\n') return pos + 1;
    drop(pos, pos + 1);
    const bool crlf = in_[pos] == '\r' && pos + 1 < size_ && in_[pos + 1] == '\n';
    return pos + (crlf ? 2 : 1);
  }

  // A line with content: first the blank line before it and the separator.
  void keep(Py_ssize_t begin, Py_ssize_t end) {
    if (pending_blank_) {
      if (wrote_line_) out_[written_++] = '\n';
      wrote_line_ = true;
      pending_blank_ = false;
    }
    if (wrote_line_) out_[written_++] = '\n';
    wrote_line_ = true;
    // In place, text that has not moved is left where it is.
    if (out_ + written_ != in_ + begin)
      std::memmove(out_ + written_, in_ + begin, static_cast<std::size_t>(end - begin) * sizeof(Char));
    written_ += end - begin;
  }

  void keep_as_is(Py_ssize_t length) {
    if (out_ != in_) std::memcpy(out_, in_, static_cast<std::size_t>(length) * sizeof(Char));
  }

  void drop(Py_ssize_t begin, Py_ssize_t end) {
    for (Py_ssize_t i = begin; i < end && !may_narrow_; ++i) may_narrow_ = in_[i] >= kind_start_;
  }

  const Char *in_;
  Py_ssize_t size_;
  Char *out_;
  Py_UCS4 kind_start_;
  Py_ssize_t written_ = 0;
  bool pending_blank_ = false;  // one empty line, written only if content follows
  bool wrote_line_ = false;     // the output holds a line (so the next needs "\n")
  bool may_narrow_ = false;
};

// The rules applied to `text` into `out`, which may be `text` itself; `tidy`
// is where they may first change anything (the length when nowhere), or -1
// when that is yet to be found.
template <typename Char>
Ref collapse_into(PyObject *text, Ref out, Py_ssize_t tidy) {
  const auto *chars = static_cast<const Char *>(PyUnicode_DATA(text));
  const Py_ssize_t size = PyUnicode_GET_LENGTH(text);
  if (tidy < 0) tidy = TidyScan<Char>().run(chars, size);
  Collapse<Char> collapse(chars, size, static_cast<Char *>(PyUnicode_DATA(out.get())), widest_kind_start(text));
  const Py_ssize_t length = collapse.run(tidy);
  if (length == 0) return empty_str();
  // A str is always stored in the narrowest kind that holds it.
  if (collapse.may_narrow())
    return owned(PyUnicode_FromKindAndData(PyUnicode_KIND(out.get()), PyUnicode_DATA(out.get()), length));
  if (length != PyUnicode_GET_LENGTH(out.get())) resize_str(out, length);
  return out;
}

Ref collapse_into(PyObject *text, Ref out, Py_ssize_t tidy) {
  switch (PyUnicode_KIND(text)) {
    case PyUnicode_1BYTE_KIND:
      return collapse_into<Py_UCS1>(text, std::move(out), tidy);
    case PyUnicode_2BYTE_KIND:
      return collapse_into<Py_UCS2>(text, std::move(out), tidy);
    default:
      return collapse_into<Py_UCS4>(text, std::move(out), tidy);
  }
}

}  // namespace

Ref collapse_blank_lines(PyObject *, Args args) {
  PyObject *text = args[0];
  Ref out = owned(PyUnicode_New(PyUnicode_GET_LENGTH(text), PyUnicode_MAX_CHAR_VALUE(text)));
  return collapse_into(text, std::move(out), -1);
}

Ref collapsed_in_place(TextWriter &writer) {
  const Py_ssize_t changed_at = writer.line_form_changed_at();
  Ref text = writer.finish();
  if (changed_at < 0) return text;
  PyObject *storage = text.get();
  return collapse_into(storage, std::move(text), changed_at);
}

}  // namespace velmora
