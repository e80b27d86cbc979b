// Writes display blocks as body lines: headings two levels below the
// section's own headings, lists as dash bullets, tables as pipe tables with a
// delimiter row, everything else as its text. Blocks are separated by one
// empty line, written before a block even when the block then renders nothing.
//
// Both roads render through here: the step _render_blocks with the values it
// reads from each block dict, the answer-body writer with the values assembly
// and the text parse find.
#pragma once

#include <functional>

#include "binding/objects.hpp"
#include "velmora/shared/line_sink.hpp"

namespace velmora {

template <LineSink Sink>
class BodyWriter {
 public:
  explicit BodyWriter(Sink &sink) : sink_(sink) {}

  // Every block starts here.
  void begin_block() {
    if (lines_) add(tavrin::py_str<"">());
  }
  // A whole line that is this object.
  void add(PyObject *item) {
    sink_.add(item);
    ++lines_;
  }
  // Starts a line; write its pieces with the functions below.
  void line() {
    sink_.begin_line();
    ++lines_;
  }
  void write(PyObject *str, Span span) { sink_.write(str, span); }
  void write(PyObject *str) { sink_.write(str); }
  void write_unbroken(PyObject *str, Span span) { sink_.write_unbroken(str, span); }
  void write_unbroken(PyObject *str) { sink_.write_unbroken(str); }
  void write_ascii(const char *ascii, Py_ssize_t length) { sink_.write_ascii(ascii, length); }
  void write_char(Py_UCS4 ch) { sink_.write_char(ch); }
  void reserve(Py_ssize_t length) { sink_.reserve(length); }

  // The marker, a space and the text, stripped as one line: the marker keeps
  // the text's leading whitespace, so only its trailing whitespace goes.
  void heading(Py_ssize_t marker_length, Borrowed text, Span span, bool unbroken = false) {
    line();
    // Room past the six marks, so that no read of the copy runs beyond it.
    static constexpr char kMarks[] = "################";
    write_ascii(kMarks, marker_length);
    const Span content = tavrin::StrView(text).rstrip(span);
    if (content.empty()) return;
    write_char(' ');
    if (unbroken) {
      write_unbroken(text, content);
    } else {
      write(text, content);
    }
  }
  // "- " and the item.
  void bullet() {
    line();
    write_ascii("- ", 2);
  }
  // A pipe-table line: "| ", the cells joined with " | ", then " |".
  void begin_table_row() {
    line();
    cells_ = 0;
  }
  void table_cell() {
    if (cells_++) {
      write_ascii(" | ", 3);
    } else {
      write_ascii("| ", 2);
    }
  }
  void end_table_row() {
    if (!cells_) write_ascii("| ", 2);
    write_ascii(" |", 2);
  }
  void delimiter_row(Py_ssize_t cells) {
    begin_table_row();
    for (Py_ssize_t i = 0; i < cells; ++i) {
      table_cell();
      write_ascii("---", 3);
    }
    end_table_row();
  }

 private:
  Sink &sink_;
  Py_ssize_t lines_ = 0;
  Py_ssize_t cells_ = 0;
};

// Display blocks from their values, for each sink (block_lines.cpp makes them
// for ListSink and HeadedSink).
template <LineSink Sink>
struct BlockLines {
  // A heading; a level that is no int reads as 2.
  static void heading(BodyWriter<Sink> &body, Borrowed level, Borrowed text);
  static void list(BodyWriter<Sink> &body, Borrowed items);
  // A table: `read_rows` runs after the header cells are converted, and a
  // table without header cells renders nothing.
  static void table(BodyWriter<Sink> &body, Borrowed header, const std::function<Ref()> &read_rows);
  // Any other block: its trimmed text, when there is any.
  static void text(BodyWriter<Sink> &body, Borrowed text);
};
extern template struct BlockLines<ListSink>;
extern template struct BlockLines<HeadedSink>;

}  // namespace velmora
