// The block dicts the steps hand each other, each layout made here and only
// here, with its keys in their order.
//   "type" blocks: the front end's structured blocks and the display blocks
//   that assembly makes of them.
//   "kind" blocks: the intermediate blocks that parsing answer text makes.
#pragma once

#include <initializer_list>
#include <utility>

#include "binding/objects.hpp"

namespace velmora {

using tavrin::py_str;
using tavrin::Ref;

// A new dict of `fields`, in their order.
inline Ref make_block(std::initializer_list<std::pair<PyObject *, PyObject *>> fields) {
  Ref block = tavrin::new_dict();
  for (const auto &[key, value] : fields) tavrin::set_item(block.get(), key, value);
  return block;
}

// "type" blocks. A heading has the same layout as structured and as display block.
inline Ref heading_block(PyObject *text, PyObject *level) {
  return make_block({{py_str<"type">(), py_str<"heading">()}, {py_str<"text">(), text}, {py_str<"level">(), level}});
}
// {"type": type, "text": text}: a structured paragraph or list item, or a display text block.
inline Ref text_block(PyObject *type, PyObject *text) {
  return make_block({{py_str<"type">(), type}, {py_str<"text">(), text}});
}
inline Ref table_row_block(PyObject *text, PyObject *cells) {
  return make_block({{py_str<"type">(), py_str<"table_row">()}, {py_str<"text">(), text}, {py_str<"cells">(), cells}});
}
inline Ref list_block(PyObject *items) {
  return make_block({{py_str<"type">(), py_str<"list">()}, {py_str<"items">(), items}});
}
inline Ref table_block(PyObject *header, PyObject *rows) {
  return make_block({{py_str<"type">(), py_str<"table">()}, {py_str<"header">(), header}, {py_str<"rows">(), rows}});
}

// "kind" blocks.
inline Ref parsed_text_block(PyObject *text) {
  return make_block({{py_str<"kind">(), py_str<"text">()}, {py_str<"text">(), text}});
}
inline Ref parsed_heading_block(PyObject *level, PyObject *text) {
  return make_block({{py_str<"kind">(), py_str<"heading">()}, {py_str<"level">(), level}, {py_str<"text">(), text}});
}
inline Ref parsed_list_item_block(PyObject *text) {
  return make_block({{py_str<"kind">(), py_str<"list_item">()}, {py_str<"text">(), text}});
}
inline Ref parsed_table_block(PyObject *header, PyObject *rows) {
  return make_block({{py_str<"kind">(), py_str<"table">()}, {py_str<"header">(), header}, {py_str<"rows">(), rows}});
}

}  // namespace velmora
