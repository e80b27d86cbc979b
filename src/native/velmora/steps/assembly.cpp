// Structured blocks assembled into display blocks: headings and paragraphs map
// one to one, a run of list items becomes one list, a run of table rows one
// table. When the structured blocks give nothing, the answer text decides.
#include "velmora/steps/assembly.hpp"

#include <algorithm>
#include <utility>
#include <vector>

#include "binding/objects.hpp"
#include "binding/text.hpp"
#include "velmora/class/self_call.hpp"
#include "velmora/shared/grouping.hpp"
#include "velmora/shared/headings.hpp"
#include "velmora/steps/block_dicts.hpp"

namespace velmora {

using namespace tavrin;

// A level already inside the display levels is kept as the very object given.
Ref heading_level(PyObject *value) {
  if (!PyLong_Check(value)) return owned(PyLong_FromSsize_t(2));
  const Py_ssize_t level = markdown_level(value, 0);
  if (level == kLowestLevel || level == kDeepestLevel) return owned(PyLong_FromSsize_t(level));
  return Ref::new_reference(value);
}

// `type == "heading"`, then "paragraph", "list_item" and "table_row", as the
// step compares them; for an exact str one look at its text decides, since
// nothing it compares with can answer differently.
BlockType block_type(PyObject *type) {
  if (PyUnicode_CheckExact(type)) {
    if (has_ascii_text(type, "heading")) return BlockType::heading;
    if (has_ascii_text(type, "paragraph")) return BlockType::paragraph;
    if (has_ascii_text(type, "list_item")) return BlockType::list_item;
    if (has_ascii_text(type, "table_row")) return BlockType::table_row;
    return BlockType::other;
  }
  if (compares(type, py_str<"heading">(), Py_EQ)) return BlockType::heading;
  if (compares(type, py_str<"paragraph">(), Py_EQ)) return BlockType::paragraph;
  if (compares(type, py_str<"list_item">(), Py_EQ)) return BlockType::list_item;
  if (compares(type, py_str<"table_row">(), Py_EQ)) return BlockType::table_row;
  return BlockType::other;
}

// `type != "table_row"` (which an object's own __ne__ answers) decides the
// others away.
bool counts_without_text(PyObject *type) {
  if (PyUnicode_CheckExact(type)) return has_ascii_text(type, "table_row");
  return !compares(type, py_str<"table_row">(), Py_NE);
}

PyObject *BlockKeys::name(Key key) {
  switch (key) {
    case Key::type:
      return py_str<"type">();
    case Key::text:
      return py_str<"text">();
    case Key::level:
      return py_str<"level">();
    default:
      return py_str<"cells">();
  }
}

int BlockKeys::slot_of(PyObject *key) {
  switch (PyUnicode_GET_LENGTH(key)) {
    case 4:
      if (has_ascii_text(key, "type")) return static_cast<int>(Key::type);
      return has_ascii_text(key, "text") ? static_cast<int>(Key::text) : -1;
    case 5:
      if (has_ascii_text(key, "level")) return static_cast<int>(Key::level);
      return has_ascii_text(key, "cells") ? static_cast<int>(Key::cells) : -1;
    default:
      return -1;
  }
}

namespace {

// The step's groups: pending list items (a list of their texts) and table
// rows (the lists the row step returned), made into display block dicts.
class ObjectGroups {
 public:
  explicit ObjectGroups(const Self &self) : self_(self), blocks_(new_list()) {}

  void add_item(PyObject *text) {
    if (!items_) items_ = new_list();
    append(items_.get(), text);
  }
  bool add_row(PyObject *element, BlockReads &read) {
    Ref row = call(self_, Step::normalize_structured_row, {element});
    read.python_may_have_run();
    if (!PyList_Check(row.get()) || !is_true(row.get())) return false;
    rows_.push_back(std::move(row));
    return true;
  }

  bool has_items() const { return static_cast<bool>(items_); }
  void emit_list() {
    Ref items = std::move(items_);
    emit(list_block(items.get()));
  }

  Py_ssize_t row_count() const { return static_cast<Py_ssize_t>(rows_.size()); }
  void emit_lone_row() {
    const std::vector<Ref> rows = std::exchange(rows_, {});
    Ref joined = join(py_str<" | ">(), rows[0].get());
    text(joined.get());
  }
  void emit_table() {
    const std::vector<Ref> rows = std::exchange(rows_, {});
    PyObject *header = rows[0].get();
    const Py_ssize_t header_size = PyObject_Size(header);
    if (header_size < 0) throw_error();
    Ref width = owned(PyLong_FromSsize_t(header_size));
    // Appended, not pre-sized: the calls run Python code, which must never
    // meet a tracked list with empty slots (gc.get_objects() would hand it out).
    Ref fitted = new_list();
    for (std::size_t i = 1; i < rows.size(); ++i) {
      Ref row = call(self_, Step::normalize_row_cells, {rows[i].get(), width.get()});
      append(fitted.get(), row.get());
    }
    emit(table_block(header, fitted.get()));
  }

  void text(PyObject *text) { emit(text_block(py_str<"text">(), text)); }
  void heading(PyObject *text, PyObject *level) { emit(heading_block(text, level)); }

  Ref finish() { return std::move(blocks_); }

 private:
  void emit(const Ref &block) { append(blocks_.get(), block.get()); }

  const Self &self_;
  Ref blocks_;
  Ref items_;  // texts of pending list items; unset while there are none
  std::vector<Ref> rows_;
};

// `row + [""] * (width - len(row))`, for a width beyond the row.
Ref padded_row(PyObject *row, PyObject *width_object, Py_ssize_t width) {
  const Py_ssize_t size = PyList_GET_SIZE(row);
  if (width == PY_SSIZE_T_MAX) {
    // The width may not fit an index: let Python's own list arithmetic report it.
    Ref length = owned(PyLong_FromSsize_t(size));
    Ref missing = owned(PyNumber_Subtract(width_object, length.get()));
    Ref filler = new_list();
    append(filler.get(), py_str<"">());
    Ref padding = owned(PyNumber_Multiply(filler.get(), missing.get()));
    return owned(PyNumber_Add(row, padding.get()));
  }
  Ref result = new_list(width);
  const tavrin::CriticalSection held_still(row);
  // The row as it is now: another thread may have shrunk it since its size was read.
  const Py_ssize_t kept = std::min(size, PyList_GET_SIZE(row));
  for (Py_ssize_t i = 0; i < kept; ++i) PyList_SET_ITEM(result.get(), i, Py_NewRef(PyList_GET_ITEM(row, i)));
  for (Py_ssize_t i = kept; i < width; ++i) PyList_SET_ITEM(result.get(), i, Py_NewRef(py_str<"">()));
  return result;
}

// `row[:width - 1] + [" | ".join(row[width - 1:])]`.
Ref merged_row(PyObject *row, Py_ssize_t kept) {
  Ref result = owned(PyList_GetSlice(row, 0, kept));
  Ref rest = owned(PyList_GetSlice(row, kept, PyList_GET_SIZE(row)));
  Ref joined = join(py_str<" | ">(), rest.get());
  append(result.get(), joined.get());
  return result;
}

}  // namespace

Ref build_answer_blocks(PyObject *instance, Args args) {
  const Self self(instance);
  PyObject *text = args[0];
  PyObject *structured_blocks = args[1];
  if (PyList_Check(structured_blocks) && is_true(structured_blocks)) {
    Ref blocks = call(self, Step::build_structured_answer_blocks, {structured_blocks});
    if (is_true(blocks.get())) return expect_result(std::move(blocks), &PyList_Type);
  }
  if (PyUnicode_GET_LENGTH(text) == 0) return new_list();

  Ref parsed = call(self, Step::build_text_fallback_blocks, {text});
  Ref converted = call(self, Step::to_structured_blocks, {parsed.get()});
  Ref blocks = call(self, Step::build_structured_answer_blocks, {converted.get()});
  if (is_true(blocks.get())) return expect_result(std::move(blocks), &PyList_Type);

  Ref stripped = strip(text);
  Ref last_resort = new_list();
  append(last_resort.get(), text_block(py_str<"text">(), stripped.get()).get());
  return last_resort;
}

Ref build_structured_answer_blocks(PyObject *instance, Args args) {
  const Self self(instance);
  ObjectGroups blocks(self);
  Assembler assembler(blocks);
  for_each(args[0], [&](PyObject *element) { assembler.add(element); });
  assembler.finish();
  return blocks.finish();
}

Ref normalize_structured_row(PyObject *instance, Args args) {
  PyObject *block = args[0];
  Ref cells = dict_lookup(block, py_str<"cells">());
  if (PyList_Check(cells.get()) && is_true(cells.get())) {
    Ref row = new_list();
    for_each(cells.get(), [&](PyObject *cell) {
      Ref text = trimmed_text(cell);
      append(row.get(), text.get());
    });
    return row;
  }
  // The line goes to the pipe parser as it stands; the parser strips it.
  Ref text = dict_lookup(block, py_str<"text">());
  Ref line = is_true(text.get()) ? to_str(text.get()) : empty_str();
  const Self self(instance);
  return expect_result(call(self, Step::parse_pipe_row, {line.get()}), &PyList_Type);
}

Ref normalize_row_cells(PyObject *, Args args) {
  PyObject *row = args[0];
  PyObject *width_object = args[1];
  // Saturates instead of failing; the extremes are handled by the helpers.
  const Py_ssize_t width = check_value(PyNumber_AsSsize_t(width_object, nullptr));
  const Py_ssize_t size = PyList_GET_SIZE(row);
  if (size == width) return Ref::new_reference(row);
  const RowFit fit = fit_row(size, width);
  if (fit.merges_rest) return merged_row(row, fit.kept);
  return padded_row(row, width_object, width);
}

}  // namespace velmora
