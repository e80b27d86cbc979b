// Answer text split into lines where "\r\n", "\r" or "\n" ends them: the only
// breaks the text parse knows (other line separators stay inside a line).
#pragma once

#include <algorithm>
#include <vector>

#include "binding/simd.hpp"
#include "binding/text.hpp"

namespace velmora {

namespace line_breaks {

using tavrin::Span;

// The lines into `lines`, and into `pipes` whether each holds a "|", in one
// pass: a block of characters is read once, however many lines end in it.
template <typename Char, class Lines, class Pipes>
void split(const Char *chars, Py_ssize_t size, Lines &lines, Pipes &pipes) {
  Py_ssize_t start = 0;  // where the current line starts
  bool pipe = false;     // whether the current line holds a "|" so far
  // Ends the current line at the "\n" or "\r" at `pos`; the "\n" of a
  // "\r\n" ended nothing (the line after it starts beyond it).
  const auto end_line = [&](Py_ssize_t pos) {
    if (pos < start) return;
    lines.push_back({start, pos});
    pipes.push_back(pipe);
    pipe = false;
    start = pos + 1;
    if (chars[pos] == '\r' && start < size && chars[start] == '\n') ++start;
  };
  Py_ssize_t pos = 0;
#if TAVRIN_VECTOR_SCANS
  if constexpr (sizeof(Char) <= 2) {
    using namespace tavrin::simd;
    // The lines ending in the block read at `base`, from its bit masks (bit i
    // for the character at base + i).
    const auto end_lines = [&](Py_ssize_t base, unsigned bars, unsigned breaks) {
      for (; breaks; breaks &= breaks - 1) {
        const unsigned bit = static_cast<unsigned>(lowest_set_bit(breaks));
        pipe |= (bars & ((1u << bit) - 1)) != 0;
        bars &= ~((2u << bit) - 1);  // 0 from bit 31: the mask is then all ones
        end_line(base + bit);
      }
      pipe |= bars != 0;
    };
    const auto breaks_in = [](__m128i bytes) { return bits_equal(bytes, '\n') | bits_equal(bytes, '\r'); };
    for (; pos + 32 <= size; pos += 32) {
      const __m128i low = sixteen_bytes(chars + pos);
      const __m128i high = sixteen_bytes(chars + pos + 16);
      end_lines(pos, bits_equal(low, '|') | bits_equal(high, '|') << 16, breaks_in(low) | breaks_in(high) << 16);
    }
    // The rest as one or two blocks of sixteen, the last one ending with the
    // text (its characters read before are left out).
    while (pos < size && size >= 16) {
      const Py_ssize_t base = std::min(pos, size - 16);
      const auto seen = static_cast<unsigned>(pos - base);
      const __m128i bytes = sixteen_bytes(chars + base);
      end_lines(base, bits_equal(bytes, '|') >> seen << seen, breaks_in(bytes) >> seen << seen);
      pos = base + 16;
    }
  }
#endif
  for (; pos < size; ++pos) {
    if (chars[pos] == '\n' || chars[pos] == '\r') {
      end_line(pos);
    } else {
      pipe |= chars[pos] == '|';
    }
  }
  lines.push_back({start, size});
  pipes.push_back(pipe);
}

// Does ASCII text hold a control character other than TAB, "\n" and "\r"
// (among them the line separators VT, FF and the file, group and record
// separators)?
inline bool has_other_controls(const Py_UCS1 *chars, Py_ssize_t size) {
  Py_ssize_t pos = 0;
#if TAVRIN_VECTOR_SCANS
  unsigned found = 0;
  for (; pos + 16 <= size; pos += 16) {
    const __m128i bytes = tavrin::simd::sixteen_bytes(chars + pos);
    found |= tavrin::simd::bits_below(bytes, 0x20) &
             ~(tavrin::simd::bits_equal(bytes, '\t') | tavrin::simd::bits_equal(bytes, '\n') |
               tavrin::simd::bits_equal(bytes, '\r'));
  }
  if (found) return true;
#endif
  for (; pos < size; ++pos)
    if (chars[pos] < 0x20 && chars[pos] != '\t' && chars[pos] != '\n' && chars[pos] != '\r') return true;
  return false;
}

}  // namespace line_breaks

// The lines of `text`, an exact str, as spans into `lines`, and into `pipes`
// whether each holds a "|" (both must be empty); a final break ends the text
// with an empty line, and an empty text is one empty line.
template <class Lines, class Pipes>
void split_lines(tavrin::Borrowed str, Lines &lines, Pipes &pipes) {
  PyObject *text = str.get();
  const Py_ssize_t size = PyUnicode_GET_LENGTH(text);
  // Room for lines of forty characters on average, as answers mostly have:
  // the lists of a long text are not regrown line by line.
  if (size > 256) {
    const auto expected = static_cast<std::size_t>(size / 40 + 1);
    lines.reserve(expected);
    pipes.reserve(expected);
  }
  switch (PyUnicode_KIND(text)) {
    case PyUnicode_1BYTE_KIND:
      return line_breaks::split(PyUnicode_1BYTE_DATA(text), size, lines, pipes);
    case PyUnicode_2BYTE_KIND:
      return line_breaks::split(PyUnicode_2BYTE_DATA(text), size, lines, pipes);
    default:
      return line_breaks::split(PyUnicode_4BYTE_DATA(text), size, lines, pipes);
  }
}

// Is it known that no line of `text` holds a line separator of another kind
// than "\n" and "\r", so that no piece of a line breaks a line when written?
// Told for ASCII text; wider text is not looked at.
inline bool lines_are_unbroken(tavrin::Borrowed str) {
  PyObject *text = str.get();
  return PyUnicode_IS_ASCII(text) &&
         !line_breaks::has_other_controls(PyUnicode_1BYTE_DATA(text), PyUnicode_GET_LENGTH(text));
}

}  // namespace velmora
