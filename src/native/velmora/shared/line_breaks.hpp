// Answer text split into lines where "\r\n", "\r" or "\n" ends them: the only
// breaks the text parse knows (other line separators stay inside a line).
#pragma once

#include <vector>

#include "binding/simd.hpp"
#include "binding/text.hpp"

namespace velmora {

namespace line_breaks {

using tavrin::Span;

// The position of the next "\n" or "\r" from `pos`, or `size`. `pipe`
// learns whether a "|" lies before it.
template <typename Char>
Py_ssize_t next_break(const Char *chars, Py_ssize_t pos, Py_ssize_t size, bool &pipe) {
#if TAVRIN_VECTOR_SCANS
  if constexpr (sizeof(Char) <= 2) {
    for (; pos + 16 <= size; pos += 16) {
      const __m128i bytes = tavrin::simd::sixteen_bytes(chars + pos);
      const unsigned pipes = tavrin::simd::bits_equal(bytes, '|');
      if (const unsigned breaks = tavrin::simd::bits_equal(bytes, '\n') | tavrin::simd::bits_equal(bytes, '\r')) {
        pipe |= (pipes & ((breaks & (0u - breaks)) - 1)) != 0;
        return pos + tavrin::simd::lowest_set_bit(breaks);
      }
      pipe |= pipes != 0;
    }
  }
#endif
  for (; pos < size && chars[pos] != '\n' && chars[pos] != '\r'; ++pos) pipe |= chars[pos] == '|';
  return pos;
}

// The lines into `lines`, and into `pipes` whether each holds a "|".
template <typename Char, class Lines, class Pipes>
void split(const Char *chars, Py_ssize_t size, Lines &lines, Pipes &pipes) {
  Py_ssize_t start = 0;
  bool pipe = false;
  for (Py_ssize_t pos = next_break(chars, 0, size, pipe); pos < size; pos = next_break(chars, start, size, pipe)) {
    lines.push_back({start, pos});
    pipes.push_back(pipe);
    pipe = false;
    if (chars[pos] == '\r' && pos + 1 < size && chars[pos + 1] == '\n') ++pos;
    start = pos + 1;
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
