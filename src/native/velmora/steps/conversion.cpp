// Intermediate blocks of parsed text turned into structured blocks, so that
// parsed text is assembled and rendered like the blocks an answer carries.
#include "binding/objects.hpp"
#include "binding/text.hpp"
#include "velmora/class/self_call.hpp"
#include "velmora/steps/block_dicts.hpp"

namespace velmora {

using namespace tavrin;

namespace {

Ref list_or_empty(Ref value) { return PyList_Check(value.get()) ? value : new_list(); }

// One "table_row" block that shares `cells` with the table it came from.
void append_table_row(PyObject *out, PyObject *cells) {
  Ref text = join(py_str<" | ">(), cells);
  append(out, table_row_block(text.get(), cells).get());
}

// The header line always gives a row, even an empty one; body rows that are
// not lists are skipped.
void append_table(PyObject *out, PyObject *table) {
  Ref header = list_or_empty(get(table, py_str<"header">()));
  Ref rows = list_or_empty(get(table, py_str<"rows">()));
  append_table_row(out, header.get());
  for_each(rows.get(), [&](PyObject *row) {
    if (PyList_Check(row)) append_table_row(out, row);
  });
}

void append_text_block(PyObject *out, PyObject *type, PyObject *source) {
  Ref text = get_or(source, py_str<"text">(), py_str<"">());
  append(out, text_block(type, text.get()).get());
}

void append_heading(PyObject *out, PyObject *heading) {
  Ref text = get_or(heading, py_str<"text">(), py_str<"">());
  Ref level = get_or(heading, py_str<"level">(), [] { return owned(PyLong_FromSsize_t(2)); });
  append(out, heading_block(text.get(), level.get()).get());
}

void append_structured(PyObject *out, PyObject *block) {
  Ref kind = get(block, py_str<"kind">());
  if (compares(kind.get(), py_str<"heading">(), Py_EQ)) {
    append_heading(out, block);
  } else if (compares(kind.get(), py_str<"list_item">(), Py_EQ)) {
    append_text_block(out, py_str<"list_item">(), block);
  } else if (compares(kind.get(), py_str<"table">(), Py_EQ)) {
    append_table(out, block);
  } else {
    append_text_block(out, py_str<"paragraph">(), block);
  }
}

}  // namespace

Ref to_structured_blocks(PyObject *, Args args) {
  PyObject *blocks = args[0];
  Ref structured = new_list();
  for_each(blocks, [&](PyObject *block) { append_structured(structured.get(), block); });
  return structured;
}

}  // namespace velmora
