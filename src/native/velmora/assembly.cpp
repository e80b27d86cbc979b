// Structured blocks assembled into display blocks: headings and paragraphs map
// one to one, a run of list items becomes one list, a run of table rows one
// table. When the structured blocks give nothing, the answer text decides.
#include <utility>
#include <vector>

#include "velmora/assembly.hpp"

#include "binding/objects.hpp"
#include "binding/text.hpp"
#include "velmora/self_call.hpp"

namespace velmora {

using namespace tavrin;

namespace {

Ref text_block(PyObject *text) {
  Ref block = new_dict();
  set_item(block.get(), py_str<"type">(), py_str<"text">());
  set_item(block.get(), py_str<"text">(), text);
  return block;
}

// The display blocks as dicts, for whoever called the assembly step.
class DisplayBlocks final : public AssemblyOutput {
 public:
  DisplayBlocks() : blocks_(new_list()) {}

  void heading(PyObject *text, PyObject *level) override {
    Ref block = new_dict();
    set_item(block.get(), py_str<"type">(), py_str<"heading">());
    set_item(block.get(), py_str<"text">(), text);
    set_item(block.get(), py_str<"level">(), level);
    emit(block);
  }
  void text(PyObject *text) override { emit(text_block(text)); }
  void list(PyObject *items) override {
    Ref block = new_dict();
    set_item(block.get(), py_str<"type">(), py_str<"list">());
    set_item(block.get(), py_str<"items">(), items);
    emit(block);
  }
  void table(PyObject *header, PyObject *rows) override {
    Ref block = new_dict();
    set_item(block.get(), py_str<"type">(), py_str<"table">());
    set_item(block.get(), py_str<"header">(), header);
    set_item(block.get(), py_str<"rows">(), rows);
    emit(block);
  }

  Ref finish() { return std::move(blocks_); }

 private:
  void emit(const Ref &block) { append(blocks_.get(), block.get()); }
  Ref blocks_;
};

// An int level (bool included) clamped to 1..6; anything else reads as 2.
// A level already inside the range is kept as the very object given.
Ref heading_level(PyObject *value) {
  if (!PyLong_Check(value)) return owned(PyLong_FromSsize_t(2));
  const Py_ssize_t level = clamped_int(value, 1, 6);
  if (level == 1 || level == 6) return owned(PyLong_FromSsize_t(level));
  return Ref::borrow(value);
}

// The buffers of one assembly. At most one of them holds anything at a time:
// a list item flushes the table before it is buffered and a table row the list.
class Assembler {
 public:
  Assembler(PyObject *self, AssemblyOutput &out) : self_(self), out_(out) {}

  void add(PyObject *element) {
    if (!PyDict_Check(element)) return;
    Ref type = get(element, py_str<"type">());
    Ref text_value = get(element, py_str<"text">());
    Ref text = trimmed_text(text_value.get());
    const bool has_text = is_true(text.get());
    if (!has_text && compares(type.get(), py_str<"table_row">(), Py_NE)) return;

    if (compares(type.get(), py_str<"heading">(), Py_EQ)) {
      flush_list();
      flush_table();
      Ref raw_level = get(element, py_str<"level">());
      Ref level = heading_level(raw_level.get());
      out_.heading(text.get(), level.get());
    } else if (compares(type.get(), py_str<"paragraph">(), Py_EQ)) {
      flush_list();
      flush_table();
      out_.text(text.get());
    } else if (compares(type.get(), py_str<"list_item">(), Py_EQ)) {
      flush_table();
      if (!list_buffer_) list_buffer_ = new_list();
      append(list_buffer_.get(), text.get());
    } else if (compares(type.get(), py_str<"table_row">(), Py_EQ)) {
      add_table_row(element, text.get(), has_text);
    }
  }

  void finish() {
    flush_list();
    flush_table();
  }

 private:
  void add_table_row(PyObject *element, PyObject *text, bool has_text) {
    flush_list();
    Ref row = call(self_, Step::normalize_structured_row, {element});
    if (PyList_Check(row.get()) && is_true(row.get())) {
      table_rows_.push_back(std::move(row));
    } else if (has_text) {
      flush_table();
      out_.text(text);
    }
  }

  void flush_list() {
    if (!list_buffer_) return;
    Ref items = std::move(list_buffer_);
    out_.list(items.get());
  }

  void flush_table() {
    if (table_rows_.empty()) return;
    std::vector<Ref> rows = std::exchange(table_rows_, {});
    // A lone row never becomes a table.
    if (rows.size() == 1) {
      Ref joined = join(py_str<" | ">(), rows[0].get());
      out_.text(joined.get());
      return;
    }
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
    out_.table(header, fitted.get());
  }

  PyObject *self_;
  AssemblyOutput &out_;
  Ref list_buffer_;  // texts of pending list items; unset while there are none
  std::vector<Ref> table_rows_;
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
  for (Py_ssize_t i = 0; i < size; ++i) PyList_SET_ITEM(result.get(), i, Py_NewRef(PyList_GET_ITEM(row, i)));
  for (Py_ssize_t i = size; i < width; ++i) PyList_SET_ITEM(result.get(), i, Py_NewRef(py_str<"">()));
  return result;
}

// `row[:width - 1] + [" | ".join(row[width - 1:])]`, with Python's slice
// positions: below 1 the split counts from the end of the row.
Ref merged_row(PyObject *row, Py_ssize_t width) {
  const Py_ssize_t size = PyList_GET_SIZE(row);
  Py_ssize_t split = 0;
  if (width >= 1) {
    split = width - 1;
  } else if (width > -size) {
    split = size + width - 1;
  }
  Ref result = owned(PyList_GetSlice(row, 0, split));
  Ref rest = owned(PyList_GetSlice(row, split, size));
  Ref joined = join(py_str<" | ">(), rest.get());
  append(result.get(), joined.get());
  return result;
}

}  // namespace

Ref build_answer_blocks(PyObject *self, Args args) {
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
  append(last_resort.get(), text_block(stripped.get()).get());
  return last_resort;
}

void assemble(PyObject *self, PyObject *structured_blocks, AssemblyOutput &out) {
  Assembler assembler(self, out);
  for_each(structured_blocks, [&](PyObject *element) { assembler.add(element); });
  assembler.finish();
}

Ref build_structured_answer_blocks(PyObject *self, Args args) {
  DisplayBlocks blocks;
  assemble(self, args[0], blocks);
  return blocks.finish();
}

Ref normalize_structured_row(PyObject *self, Args args) {
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
  return expect_result(call(self, Step::parse_pipe_row, {line.get()}), &PyList_Type);
}

Ref normalize_row_cells(PyObject *, Args args) {
  PyObject *row = args[0];
  PyObject *width_object = args[1];
  // Saturates instead of failing; the extremes are handled by the helpers.
  const Py_ssize_t width = PyNumber_AsSsize_t(width_object, nullptr);
  if (width == -1 && PyErr_Occurred()) throw_error();
  const Py_ssize_t size = PyList_GET_SIZE(row);
  if (size == width) return Ref::borrow(row);
  if (size < width) return padded_row(row, width_object, width);
  return merged_row(row, width);
}

}  // namespace velmora
