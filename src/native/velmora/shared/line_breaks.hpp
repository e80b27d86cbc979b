// Answer text split into lines where "\r\n", "\r" or "\n" ends them: the only
// breaks the text parse knows (other line separators stay inside a line).
#pragma once

#include <vector>

#include "binding/simd.hpp"
#include "binding/text.hpp"

namespace velmora {

namespace line_breaks {

using tavrin::Span;

// The position of the next "\n" or "\r" from `pos`, or `size`.
template <typename Char>
Py_ssize_t next_break(const Char *chars, Py_ssize_t pos, Py_ssize_t size) {
#if TAVRIN_VECTOR_SCANS
  if constexpr (sizeof(Char) <= 2) {
    for (; pos + 16 <= size; pos += 16) {
      const __m128i bytes = tavrin::simd::sixteen_bytes(chars + pos);
      if (const unsigned breaks = tavrin::simd::bits_equal(bytes, '\n') | tavrin::simd::bits_equal(bytes, '\r'))
        return pos + tavrin::simd::lowest_set_bit(breaks);
    }
  }
#endif
  while (pos < size && chars[pos] != '\n' && chars[pos] != '\r') ++pos;
  return pos;
}

template <typename Char>
std::vector<Span> split(const Char *chars, Py_ssize_t size) {
  std::vector<Span> lines;
  Py_ssize_t start = 0;
  for (Py_ssize_t pos = next_break(chars, 0, size); pos < size; pos = next_break(chars, start, size)) {
    lines.push_back({start, pos});
    if (chars[pos] == '\r' && pos + 1 < size && chars[pos + 1] == '\n') ++pos;
    start = pos + 1;
  }
  lines.push_back({start, size});
  return lines;
}

}  // namespace line_breaks

// The lines of `text`, an exact str, as spans; a final break ends the text
// with an empty line, and an empty text is one empty line.
inline std::vector<tavrin::Span> split_lines(tavrin::Borrowed str) {
  PyObject *text = str.get();
  const Py_ssize_t size = PyUnicode_GET_LENGTH(text);
  switch (PyUnicode_KIND(text)) {
    case PyUnicode_1BYTE_KIND:
      return line_breaks::split(PyUnicode_1BYTE_DATA(text), size);
    case PyUnicode_2BYTE_KIND:
      return line_breaks::split(PyUnicode_2BYTE_DATA(text), size);
    default:
      return line_breaks::split(PyUnicode_4BYTE_DATA(text), size);
  }
}

}  // namespace velmora
