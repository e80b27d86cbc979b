#include "velmora/body_writer.hpp"

namespace velmora {

void BodyWriter::heading(Py_ssize_t marker_length, PyObject *text, Span span) {
  line();
  write_ascii("######", marker_length);
  const Span content = tavrin::StrView(text).rstrip(span);
  if (content.empty()) return;
  write_char(' ');
  write(text, content);
}

void BodyWriter::delimiter_row(Py_ssize_t cells) {
  begin_table_row();
  for (Py_ssize_t i = 0; i < cells; ++i) {
    table_cell();
    write_ascii("---", 3);
  }
  end_table_row();
}

}  // namespace velmora
