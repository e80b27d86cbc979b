#include "velmora/blank_lines.hpp"

#include <array>
#include <cstdint>
#include <cstring>

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

// The end of the run from `pos` of characters from " " to "~", none of which
// breaks a line or (but for " ") is whitespace. Runs are scanned a machine
// word at a time: most report text is such characters.
template <typename Char>
Py_ssize_t plain_run_end(const Char *chars, Py_ssize_t pos, Py_ssize_t size) {
  constexpr Py_ssize_t lanes = sizeof(std::uint64_t) / sizeof(Char);
  constexpr std::uint64_t ones = ~std::uint64_t{0} / ((std::uint64_t{1} << (8 * sizeof(Char))) - 1);
  constexpr std::uint64_t high = ones << (8 * sizeof(Char) - 1);
  constexpr std::uint64_t above_ascii = ones * (sizeof(Char) == 1 ? 0x80 : 0xFF80);
  if constexpr (sizeof(Char) <= 2) {
    while (pos + lanes <= size) {
      std::uint64_t word;
      std::memcpy(&word, chars + pos, sizeof word);
      // A lane of 0x80 or more, or one below 0x20, ends the run.
      if ((word & above_ascii) || ((word - ones * 0x20) & ~word & high)) break;
      pos += lanes;
    }
  }
  while (pos < size && chars[pos] >= 0x20 && chars[pos] < 0x80) ++pos;
  return pos;
}

template <typename Char>
CharClass classify(Char ch) {
  if (ch < 128) return kAsciiClasses[ch];
  if (is_line_break(ch)) return kBreak;
  return is_space(ch) ? kSpace : kContent;
}

}  // namespace

// Content of the current line: a first content on the line settles the blank
// line before it and the line separator.
void CollapsingWriter::write_content(PyObject *str, Span span) {
  if (!in_content_) {
    if (pending_blank_) {
      if (wrote_line_) out_.write_char('\n');
      wrote_line_ = true;
      pending_blank_ = false;
    }
    if (wrote_line_) out_.write_char('\n');
    wrote_line_ = true;
    in_content_ = true;
  }
  for (Py_UCS4 ch : held_) out_.write_char(ch);
  held_.clear();
  out_.write(str, span);
}

// A line without content is blank; a run of them stands as one pending line.
void CollapsingWriter::end_line() {
  if (!in_content_) pending_blank_ = true;
  in_content_ = false;
  held_.clear();
}

// Within one piece, the not yet written part of the current line runs from
// `start`; `content_end` is just past its last non-whitespace character.
template <typename Char>
void CollapsingWriter::feed(PyObject *str, const Char *chars, Py_ssize_t size) {
  Py_ssize_t pos = 0;
  if (after_cr_ && size > 0 && chars[0] == '\n') pos = 1;
  after_cr_ = false;
  Py_ssize_t start = pos;
  Py_ssize_t content_end = pos;
  for (; pos < size; ++pos) {
    const Py_ssize_t run_end = plain_run_end(chars, pos, size);
    if (run_end > pos) {
      Py_ssize_t last = run_end;
      while (last > pos && chars[last - 1] == ' ') --last;
      if (last > pos) content_end = last;
      pos = run_end;
      if (pos == size) break;
    }
    const Char ch = chars[pos];
    const CharClass kind = classify(ch);
    if (kind == kContent) {
      content_end = pos + 1;
    } else if (kind == kBreak) {
      if (content_end > start) write_content(str, {start, content_end});
      end_line();
      if (ch == '\r') {
        if (pos + 1 < size && chars[pos + 1] == '\n') {
          ++pos;
        } else if (pos + 1 == size) {
          after_cr_ = true;
        }
      }
      start = content_end = pos + 1;
    }
  }
  if (content_end > start) {
    write_content(str, {start, content_end});
    start = content_end;
  }
  for (; start < size; ++start) held_.push_back(chars[start]);
}

void CollapsingWriter::write(PyObject *str) {
  const Py_ssize_t size = PyUnicode_GET_LENGTH(str);
  switch (PyUnicode_KIND(str)) {
    case PyUnicode_1BYTE_KIND:
      return feed(str, PyUnicode_1BYTE_DATA(str), size);
    case PyUnicode_2BYTE_KIND:
      return feed(str, PyUnicode_2BYTE_DATA(str), size);
    default:
      return feed(str, PyUnicode_4BYTE_DATA(str), size);
  }
}

Ref CollapsingWriter::finish() { return out_.finish(); }

}  // namespace velmora
