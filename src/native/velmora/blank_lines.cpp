#include "velmora/blank_lines.hpp"

namespace velmora {

using namespace tavrin;

namespace {

template <typename Char>
bool is_line_break_char(Char ch) {
  if (ch < 128) return ch == '\n' || ch == '\r' || (ch >= 0x0B && ch <= 0x0C) || (ch >= 0x1C && ch <= 0x1E);
  return is_line_break(ch);
}

template <typename Char>
bool is_space_char(Char ch) {
  return is_space(ch);
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
    const Char ch = chars[pos];
    if (is_line_break_char(ch)) {
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
    } else if (!is_space_char(ch)) {
      content_end = pos + 1;
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
