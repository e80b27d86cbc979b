// Where rendered lines go. A step that produces lines writes them into a
// LineSink: into a new Python list when the step is called as a method, or
// straight into the section being written when the caller is our own step and
// nobody could see the list.
#pragma once

#include <optional>

#include "binding/text.hpp"

namespace velmora {

using tavrin::Borrowed;
using tavrin::Ref;
using tavrin::Span;

class LineSink {
 public:
  virtual ~LineSink() = default;
  // Starts the next line; the pieces written until the next start make it up.
  virtual void begin_line() = 0;
  virtual void write(PyObject *str, Span span) = 0;
  virtual void write_ascii(const char *ascii, Py_ssize_t length) = 0;
  virtual void write_char(Py_UCS4 ch) = 0;

  // A whole line that is this object, as a step handed it over (a non-str
  // fails where the lines are joined, with str.join's TypeError).
  virtual void add(PyObject *item) = 0;

  // About `length` characters are coming: a long answer's text, say.
  virtual void reserve(Py_ssize_t /*length*/) {}

  void write(PyObject *str) { write(str, {0, PyUnicode_GET_LENGTH(str)}); }
};

// Lines as the elements of a new list.
class ListSink final : public LineSink {
 public:
  ListSink();
  void begin_line() override;
  void write(PyObject *str, Span span) override { current().write(str, span); }
  void write_ascii(const char *ascii, Py_ssize_t length) override { current().write_ascii(ascii, length); }
  void write_char(Py_UCS4 ch) override { current().write_char(ch); }
  void add(PyObject *item) override;
  using LineSink::write;
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
class JoinedLines final : public LineSink {
 public:
  explicit JoinedLines(tavrin::TextWriter &out) : out_(out) {}
  void begin_line() override {
    if (count_++) out_.write_char('\n');
  }
  void write(PyObject *str, Span span) override { out_.write(str, span); }
  void write_ascii(const char *ascii, Py_ssize_t length) override { out_.write_ascii(ascii, length); }
  void write_char(Py_UCS4 ch) override { out_.write_char(ch); }
  void add(PyObject *item) override;
  void reserve(Py_ssize_t length) override { out_.reserve(length); }
  using LineSink::write;
  void raise_join_error() const;

 private:
  tavrin::TextWriter &out_;
  Py_ssize_t count_ = 0;
  Py_ssize_t bad_index_ = -1;
  Ref bad_type_;
};

// Writes a sub-section heading (an empty line, the heading, an empty line)
// into `target` before the first line, so that an empty sub-section leaves
// no trace.
class HeadedSink final : public LineSink {
 public:
  HeadedSink(JoinedLines &target, Borrowed heading) : target_(target), heading_(heading) {}
  void begin_line() override {
    start();
    target_.begin_line();
  }
  void write(PyObject *str, Span span) override { target_.write(str, span); }
  void write_ascii(const char *ascii, Py_ssize_t length) override { target_.write_ascii(ascii, length); }
  void write_char(Py_UCS4 ch) override { target_.write_char(ch); }
  void reserve(Py_ssize_t length) override { target_.reserve(length); }
  using LineSink::write;

  void add(PyObject *item) override;
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

}  // namespace velmora
