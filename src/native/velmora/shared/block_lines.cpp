#include "velmora/shared/block_lines.hpp"

#include <vector>

#include "binding/text.hpp"
#include "velmora/shared/headings.hpp"

namespace velmora {

using namespace tavrin;

namespace {

// The same line for a level that is no int by the time it is used (a mapping
// whose get answers differently the second time): Python's own arithmetic.
Ref generic_heading_line(PyObject *level, PyObject *text) {
  Ref fewest = owned(PyLong_FromSsize_t(kLowestLevel));
  Ref below = owned(PyLong_FromSsize_t(kLevelsBelowSection));
  Ref most = owned(PyLong_FromSsize_t(kDeepestLevel));
  Ref count = owned(PyNumber_Add(level, below.get()));
  if (compares(fewest.get(), count.get(), Py_GT)) count = fewest;
  if (compares(most.get(), count.get(), Py_LT)) count = most;
  Ref marker = owned(PyNumber_Multiply(py_str<"#">(), count.get()));
  Ref spaced = owned(PyNumber_Add(marker.get(), py_str<" ">()));
  Ref line = owned(PyNumber_Add(spaced.get(), text));
  return call_method(line.get(), py_str<"strip">());
}

}  // namespace

template <LineSink Sink>
void BlockLines<Sink>::heading(BodyWriter<Sink> &body, Borrowed level, Borrowed text_value) {
  Ref text = to_str(text_value);
  if (PyLong_Check(level)) {
    body.heading(markdown_level(level, kLevelsBelowSection), text.get(), {0, PyUnicode_GET_LENGTH(text.get())});
  } else {
    body.line();
    body.write(generic_heading_line(level, text.get()).get());
  }
}

template <LineSink Sink>
void BlockLines<Sink>::list(BodyWriter<Sink> &body, Borrowed items) {
  for_each(items, [&](PyObject *item) {
    Ref text = to_str(item);
    body.bullet();
    body.write(text.get());
  });
}

template <LineSink Sink>
void BlockLines<Sink>::table(BodyWriter<Sink> &body, Borrowed header_cells, const std::function<Ref()> &read_rows) {
  std::vector<Ref> header;
  for_each(header_cells, [&](PyObject *cell) { header.push_back(to_str(cell)); });
  Ref rows = read_rows();
  if (header.empty()) return;

  body.begin_table_row();
  for (const Ref &cell : header) {
    body.table_cell();
    body.write(cell.get());
  }
  body.end_table_row();
  body.delimiter_row(static_cast<Py_ssize_t>(header.size()));
  // Rows keep their own width: fitting them to the header is assembly's job.
  // A row is written as its cells convert: should one fail, nobody sees the
  // lines written so far.
  for_each(rows.get(), [&](PyObject *row) {
    if (!PyList_Check(row)) return;
    body.begin_table_row();
    for_each(row, [&](PyObject *cell) {
      Ref text = to_str(cell);
      body.table_cell();
      body.write(text.get());
    });
    body.end_table_row();
  });
}

template <LineSink Sink>
void BlockLines<Sink>::text(BodyWriter<Sink> &body, Borrowed value) {
  Ref text = trimmed_text(value);
  if (is_true(text.get())) body.add(text.get());
}

template struct BlockLines<ListSink>;
template struct BlockLines<HeadedSink>;

}  // namespace velmora
