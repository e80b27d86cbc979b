// Where rendered lines go. A step that produces lines writes them into a
// line sink: into a new Python list when the step is called as a method, or
// straight into the section being written when the caller is our own step and
// nobody could see the list. Sinks are template parameters of what writes
// into them, so that no call between them is virtual.
#pragma once

#include <concepts>
#include <cstring>
#include <optional>
#include <utility>

#include "binding/text.hpp"

namespace velmora {

using tavrin::Borrowed;
using tavrin::Ref;
using tavrin::Span;

// What a sink takes:
//   begin_line()              starts the next line; the pieces written until
//                             the next start make it up
//   write(str, span)          a piece of a str; write(str) the whole str
//   write_unbroken(str, span) a piece known to hold no line break (our own
//                             texts, lines of a text split at its breaks);
//                             write_unbroken(str) the whole str
//   write_ascii(ascii, n)     a marker or separator
//   write_char(ch)
//   add(item)                 a whole line that is this object, as a step
//                             handed it over (a non-str fails where the lines
//                             are joined, with str.join's TypeError)
//   reserve(n)                about n characters are coming
//   kFollowsLineForm          whether the text written into may follow its
//                             line form (see TextWriter)
template <class Sink>
concept LineSink = requires(Sink &sink, PyObject *str, Span span, const char *ascii, Py_ssize_t n, Py_UCS4 ch) {
  sink.begin_line();
  sink.write(str, span);
  sink.write(str);
  sink.write_unbroken(str, span);
  sink.write_unbroken(str);
  sink.write_ascii(ascii, n);
  sink.write_char(ch);
  sink.add(str);
  sink.reserve(n);
  { Sink::kFollowsLineForm } -> std::convertible_to<bool>;
};

// Lines as the elements of a new list.
class ListSink {
 public:
  static constexpr bool kFollowsLineForm = false;
  ListSink();
  void begin_line();
  void write(PyObject *str, Span span) { current().write(str, span); }
  void write(PyObject *str) { current().write(str); }
  void write_unbroken(PyObject *str, Span span) { current().write(str, span); }
  void write_unbroken(PyObject *str) { current().write(str); }
  void write_ascii(const char *ascii, Py_ssize_t length) { current().write_ascii(ascii, length); }
  void write_char(Py_UCS4 ch) { current().write_char(ch); }
  void add(PyObject *item);
  void reserve(Py_ssize_t) {}
  Ref finish();

 private:
  tavrin::TextWriter &current() { return *line_; }
  void close_line();
  Ref list_;
  std::optional<tavrin::TextWriter> line_;
};

// Lines joined with "\n" as they come, written into `out`. Items handed over
// by other steps go through add(), which keeps str.join's TypeError for the
// first non-str item: raise_join_error() raises it once all lines are in.
class JoinedLines {
 public:
  static constexpr bool kFollowsLineForm = true;
  explicit JoinedLines(tavrin::TextWriter &out) : out_(out) {}
  void begin_line() {
    if (count_++) out_.write_char('\n');
  }
  void write(PyObject *str, Span span) { out_.write(str, span); }
  void write(PyObject *str) { out_.write(str); }
  void write_unbroken(PyObject *str, Span span) { out_.write_unbroken(str, span); }
  void write_unbroken(PyObject *str) { out_.write_unbroken(str); }
  // A heading of our own text between two empty lines.
  void add_spaced_heading(PyObject *heading) {
    if (count_) out_.write_char('\n');
    out_.write_char('\n');
    out_.write_unbroken(heading);
    out_.write_char('\n');
    count_ += 3;
  }
  void write_ascii(const char *ascii, Py_ssize_t length) { out_.write_ascii(ascii, length); }
  void write_char(Py_UCS4 ch) { out_.write_char(ch); }
  void add(PyObject *item);
  void reserve(Py_ssize_t length) { out_.reserve(length); }
  void raise_join_error() const;
  // Starts the next line but leaves its "\n" to the caller: true when one
  // is due.
  bool begin_line_deferred() { return count_++ > 0; }

 private:
  tavrin::TextWriter &out_;
  Py_ssize_t count_ = 0;
  Py_ssize_t bad_index_ = -1;
  Ref bad_type_;
};

// Writes a sub-section heading (an empty line, the heading, an empty line)
// into `target` before the first line, so that an empty sub-section leaves
// no trace.
class HeadedSink {
 public:
  static constexpr bool kFollowsLineForm = true;
  HeadedSink(JoinedLines &target, Borrowed heading) : target_(target), heading_(heading) {}
  void begin_line() {
    start();
    target_.begin_line();
  }
  void write(PyObject *str, Span span) { target_.write(str, span); }
  void write(PyObject *str) { target_.write(str); }
  void write_unbroken(PyObject *str, Span span) { target_.write_unbroken(str, span); }
  void write_unbroken(PyObject *str) { target_.write_unbroken(str); }
  void write_ascii(const char *ascii, Py_ssize_t length) { target_.write_ascii(ascii, length); }
  void write_char(Py_UCS4 ch) { target_.write_char(ch); }
  void reserve(Py_ssize_t length) { target_.reserve(length); }
  void add(PyObject *item) {
    start();
    target_.add(item);
  }
  bool begin_line_deferred() {
    start();
    return target_.begin_line_deferred();
  }
  // Writes the heading now (a sub-section whose lines are yet to come).
  void start() {
    if (!started_) write_heading();
  }
  bool started() const { return started_; }

 private:
  void write_heading();

  JoinedLines &target_;
  Borrowed heading_;
  bool started_ = false;
};

// Gathers the pieces of a line that are ASCII into runs, each written into
// `Sink` as one piece: short pieces (a link's label, a table's cells) cost
// the sink one write per run instead of one per piece. finish() writes what
// is pending.
template <class Sink>
class AsciiRuns {
 public:
  static constexpr bool kFollowsLineForm = Sink::kFollowsLineForm;
  explicit AsciiRuns(Sink &sink) : sink_(sink) {}
  AsciiRuns(const AsciiRuns &) = delete;
  AsciiRuns &operator=(const AsciiRuns &) = delete;

  // Where lines are joined with "\n" into one text, a line's "\n" joins the
  // run too, once the run holds something (the sub-section's heading, if any,
  // has been written by then).
  void begin_line() {
    if constexpr (requires { sink_.begin_line_deferred(); }) {
      if (size_ > 0 && size_ < static_cast<Py_ssize_t>(sizeof run_)) {
        if (sink_.begin_line_deferred()) run_[size_++] = '\n';
        return;
      }
    }
    flush();
    sink_.begin_line();
  }
  TAVRIN_INLINE void write(PyObject *str, Span span) {
    if (PyUnicode_IS_ASCII(str) &&
        gather(reinterpret_cast<const char *>(PyUnicode_1BYTE_DATA(str)) + span.begin, span.size()))
      return;
    flush();
    sink_.write(str, span);
  }
  void write(PyObject *str) { write(str, {0, PyUnicode_GET_LENGTH(str)}); }
  void write_unbroken(PyObject *str, Span span) { write(str, span); }
  void write_unbroken(PyObject *str) { write(str); }
  void write_ascii(const char *ascii, Py_ssize_t length) {
    if (gather(ascii, length)) return;
    flush();
    sink_.write_ascii(ascii, length);
  }
  void write_char(Py_UCS4 ch) {
    const char ascii = static_cast<char>(ch);
    if (ch < 0x80 && gather(&ascii, 1)) return;
    flush();
    sink_.write_char(ch);
  }
  void add(PyObject *item) {
    flush();
    sink_.add(item);
  }
  void reserve(Py_ssize_t length) { sink_.reserve(length); }
  void finish() { flush(); }

 private:
  TAVRIN_INLINE bool gather(const char *ascii, Py_ssize_t length) {
    if (length > static_cast<Py_ssize_t>(sizeof run_) - size_) return false;
    std::memcpy(run_ + size_, ascii, static_cast<std::size_t>(length));
    size_ += length;
    return true;
  }
  void flush() {
    if (size_ == 0) return;
    const Py_ssize_t size = std::exchange(size_, 0);
    sink_.write_ascii(run_, size);
  }

  Sink &sink_;
  char run_[512];
  Py_ssize_t size_ = 0;
};

static_assert(LineSink<ListSink> && LineSink<JoinedLines> && LineSink<HeadedSink> && LineSink<AsciiRuns<HeadedSink>>);

}  // namespace velmora
