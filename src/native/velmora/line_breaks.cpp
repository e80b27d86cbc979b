#include "velmora/line_breaks.hpp"

#include "binding/simd.hpp"

namespace velmora {

using tavrin::Span;

namespace {

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

}  // namespace

std::vector<Span> split_lines(PyObject *text) {
  const Py_ssize_t size = PyUnicode_GET_LENGTH(text);
  switch (PyUnicode_KIND(text)) {
    case PyUnicode_1BYTE_KIND:
      return split(PyUnicode_1BYTE_DATA(text), size);
    case PyUnicode_2BYTE_KIND:
      return split(PyUnicode_2BYTE_DATA(text), size);
    default:
      return split(PyUnicode_4BYTE_DATA(text), size);
  }
}

}  // namespace velmora
