#include "velmora/blank_lines.hpp"

#include <array>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "binding/text.hpp"

namespace velmora {

using namespace tavrin;

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

// How many leading lanes of the 16 bytes at `chars` are in 0x20..0x7F. Lanes
// below break lines or are whitespace; lanes above need the full tables.
#if defined(__SSE2__)
template <typename Char>
Py_ssize_t plain_lanes(const Char *chars) {
  const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(chars));
  __m128i in_range;
  // c - 0x20 above 0x5F (unsigned, wrapping) is outside the range.
  if constexpr (sizeof(Char) == 1) {
    const __m128i beyond = _mm_subs_epu8(_mm_sub_epi8(block, _mm_set1_epi8(0x20)), _mm_set1_epi8(0x5F));
    in_range = _mm_cmpeq_epi8(beyond, _mm_setzero_si128());
  } else {
    const __m128i beyond = _mm_subs_epu16(_mm_sub_epi16(block, _mm_set1_epi16(0x20)), _mm_set1_epi16(0x5F));
    in_range = _mm_cmpeq_epi16(beyond, _mm_setzero_si128());
  }
  const unsigned outside = ~static_cast<unsigned>(_mm_movemask_epi8(in_range)) & 0xFFFF;
  return (outside ? __builtin_ctz(outside) : 16) / static_cast<Py_ssize_t>(sizeof(Char));
}
#else
template <typename Char>
Py_ssize_t plain_lanes(const Char *chars) {
  constexpr Py_ssize_t lanes = 16 / sizeof(Char);
  Py_ssize_t count = 0;
  while (count < lanes && chars[count] >= 0x20 && chars[count] < 0x80) ++count;
  return count;
}
#endif

// The end of the run from `pos` of characters in 0x20..0x7F, none of which
// breaks a line or (but for " ") is whitespace. Runs are scanned 16 bytes at
// a time: most report text is such characters.
template <typename Char>
Py_ssize_t plain_run_end(const Char *chars, Py_ssize_t pos, Py_ssize_t size) {
  if constexpr (sizeof(Char) <= 2) {
    constexpr Py_ssize_t lanes = 16 / sizeof(Char);
    while (pos + lanes <= size) {
      const Py_ssize_t plain = plain_lanes(chars + pos);
      pos += plain;
      if (plain < lanes) return pos;
    }
  }
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

// One pass over the lines of `in`, writing the kept text to `out`, which may
// be `in` itself: the write position never passes the read position.
template <typename Char>
class Collapse {
 public:
  Collapse(const Char *in, Py_ssize_t size, Char *out, Py_UCS4 kind_start)
      : in_(in), size_(size), out_(out), kind_start_(kind_start) {}

  Py_ssize_t run() {
    Py_ssize_t pos = 0;
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

template <typename Char>
Ref collapse_into(PyObject *text, Ref out) {
  const Py_UCS4 kind_start = widest_kind_start(text);
  Collapse<Char> collapse(static_cast<const Char *>(PyUnicode_DATA(text)), PyUnicode_GET_LENGTH(text),
                          static_cast<Char *>(PyUnicode_DATA(out.get())), kind_start);
  const Py_ssize_t length = collapse.run();
  if (length == 0) return empty_str();
  // A str is always stored in the narrowest kind that holds it.
  if (collapse.may_narrow())
    return owned(PyUnicode_FromKindAndData(PyUnicode_KIND(out.get()), PyUnicode_DATA(out.get()), length));
  PyObject *result = out.release();
  if (length != PyUnicode_GET_LENGTH(result) && PyUnicode_Resize(&result, length) < 0) {
    Py_XDECREF(result);
    throw_error();
  }
  return Ref::steal(result);
}

Ref collapse_into(PyObject *text, Ref out) {
  switch (PyUnicode_KIND(text)) {
    case PyUnicode_1BYTE_KIND:
      return collapse_into<Py_UCS1>(text, std::move(out));
    case PyUnicode_2BYTE_KIND:
      return collapse_into<Py_UCS2>(text, std::move(out));
    default:
      return collapse_into<Py_UCS4>(text, std::move(out));
  }
}

// A fresh str that no one else can see yet: its storage may be rewritten.
bool is_private(PyObject *text) {
  return PyUnicode_CheckExact(text) && Py_REFCNT(text) == 1 && !PyUnicode_CHECK_INTERNED(text) &&
         reinterpret_cast<PyASCIIObject *>(text)->hash == -1;
}

}  // namespace

Ref collapsed_copy(PyObject *text) {
  Ref out = owned(PyUnicode_New(PyUnicode_GET_LENGTH(text), PyUnicode_MAX_CHAR_VALUE(text)));
  return collapse_into(text, std::move(out));
}

Ref collapsed_in_place(Ref text) {
  if (!is_private(text.get())) return collapsed_copy(text.get());
  PyObject *storage = text.get();
  return collapse_into(storage, std::move(text));
}

}  // namespace velmora
