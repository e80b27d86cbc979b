// The report's blank-line rules, applied while the text is written: lines are
// split as str.splitlines() splits them, lose their trailing whitespace, runs
// of blank lines become one empty line, and blank lines at the end vanish.
#pragma once

#include <vector>

#include "binding/text.hpp"

namespace velmora {

using tavrin::Ref;

class CollapsingWriter {
 public:
  explicit CollapsingWriter(Py_ssize_t expected_length = 0) : out_(expected_length) {}

  // Feeds more text; a line may continue from one piece into the next.
  void write(PyObject *str);
  Ref finish();

 private:
  template <typename Char>
  void feed(PyObject *str, const Char *chars, Py_ssize_t size);
  void write_content(PyObject *str, tavrin::Span span);
  void end_line();

  tavrin::TextWriter out_;
  bool pending_blank_ = false;  // one empty line, written only if content follows
  bool wrote_line_ = false;     // the output holds a line (so the next needs "\n")
  bool in_content_ = false;     // the current line has content written
  bool after_cr_ = false;       // the last piece ended in "\r"
  std::vector<Py_UCS4> held_;   // whitespace of the current line from earlier pieces
};

}  // namespace velmora
