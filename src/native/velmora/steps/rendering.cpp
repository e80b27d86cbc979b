// Display blocks rendered as Markdown-like lines. Headings sit two levels below
// the section's own "##"/"###" headings; blocks are separated by one empty line.
#include "velmora/steps/rendering.hpp"

#include "binding/objects.hpp"
#include "velmora/shared/block_lines.hpp"

namespace velmora {

using namespace tavrin;

namespace {

Ref get_or_empty_list(PyObject *block, PyObject *key) {
  return get_or(block, key, [] { return new_list(); });
}

void read_heading(BodyWriter<ListSink> &body, PyObject *block) {
  Ref level = get(block, py_str<"level">());
  if (!PyLong_Check(level.get())) {
    level = owned(PyLong_FromSsize_t(2));
  } else if (!PyDict_CheckExact(block)) {
    // The value used is a second read, which only a mapping's own get can change.
    level = get(block, py_str<"level">());
  }
  Ref text_value = get_or(block, py_str<"text">(), [] { return empty_str(); });
  BlockLines<ListSink>::heading(body, level.get(), text_value.get());
}

void read_list(BodyWriter<ListSink> &body, PyObject *block) {
  Ref items = get_or_empty_list(block, py_str<"items">());
  BlockLines<ListSink>::list(body, items.get());
}

void read_table(BodyWriter<ListSink> &body, PyObject *block) {
  Ref header = get_or_empty_list(block, py_str<"header">());
  BlockLines<ListSink>::table(body, header.get(), [&] { return get_or_empty_list(block, py_str<"rows">()); });
}

void read_text(BodyWriter<ListSink> &body, PyObject *block) {
  Ref value = get(block, py_str<"text">());
  BlockLines<ListSink>::text(body, value.get());
}

}  // namespace

Ref render_blocks(PyObject *, Args args) {
  ListSink lines;
  BodyWriter body(lines);
  for_each(args[0], [&](PyObject *block) {
    body.begin_block();
    Ref type = get(block, py_str<"type">());
    if (compares(type.get(), py_str<"heading">(), Py_EQ)) {
      read_heading(body, block);
    } else if (compares(type.get(), py_str<"list">(), Py_EQ)) {
      read_list(body, block);
    } else if (compares(type.get(), py_str<"table">(), Py_EQ)) {
      read_table(body, block);
    } else {
      read_text(body, block);
    }
  });
  return lines.finish();
}

}  // namespace velmora
