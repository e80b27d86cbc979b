// Structured blocks assembled into display blocks: headings and paragraphs map
// one to one, a run of list items becomes one list, a run of table rows one
// table. When the structured blocks give nothing, the answer text decides.
#include "velmora/steps/assembly.hpp"

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

namespace {

// The display blocks as dicts, for whoever called the assembly step.
class DisplayBlocks final : public AssemblyOutput {
 public:
  DisplayBlocks() : blocks_(new_list()) {}

  void heading(PyObject *text, PyObject *level) override { emit(heading_block(text, level)); }
  void text(PyObject *text) override { emit(text_block(py_str<"text">(), text)); }
  void list(PyObject *items) override { emit(list_block(items)); }
  void table(PyObject *header, PyObject *rows) override { emit(table_block(header, rows)); }

  Ref finish() { return std::move(blocks_); }

 private:
  void emit(const Ref &block) { append(blocks_.get(), block.get()); }
  Ref blocks_;
};

// An int level (bool included) within the display levels; anything else
// reads as 2. A level already inside them is kept as the very object given.
Ref heading_level(PyObject *value) {
  if (!PyLong_Check(value)) return owned(PyLong_FromSsize_t(2));
  const Py_ssize_t level = markdown_level(value, 0);
  if (level == kLowestLevel || level == kDeepestLevel) return owned(PyLong_FromSsize_t(level));
  return Ref::new_reference(value);
}

// The four block types assembly knows, and any other.
enum class BlockType { heading, paragraph, list_item, table_row, other };

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

// Only a table row counts without text: `type != "table_row"` (which an
// object's own __ne__ answers) decides the others away.
bool counts_without_text(PyObject *type) {
  if (PyUnicode_CheckExact(type)) return has_ascii_text(type, "table_row");
  return !compares(type, py_str<"table_row">(), Py_NE);
}

// The pending list items (a list of their texts) and table rows (the lists
// the row step returned), made into display blocks through `out`.
class ObjectGroups {
 public:
  ObjectGroups(const Self &self, AssemblyOutput &out) : self_(self), out_(out) {}

  void add_item(PyObject *text) {
    if (!items_) items_ = new_list();
    append(items_.get(), text);
  }
  void add_row(Ref row) { rows_.push_back(std::move(row)); }

  bool has_items() const { return static_cast<bool>(items_); }
  void emit_list() {
    Ref items = std::move(items_);
    out_.list(items.get());
  }

  Py_ssize_t row_count() const { return static_cast<Py_ssize_t>(rows_.size()); }
  void emit_lone_row() {
    const std::vector<Ref> rows = std::exchange(rows_, {});
    Ref joined = join(py_str<" | ">(), rows[0].get());
    out_.text(joined.get());
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
    out_.table(header, fitted.get());
  }

  void text(PyObject *text) { out_.text(text); }
  void heading(PyObject *text, PyObject *level) { out_.heading(text, level); }

 private:
  const Self &self_;
  AssemblyOutput &out_;
  Ref items_;  // texts of pending list items; unset while there are none
  std::vector<Ref> rows_;
};

// Structured blocks read as _build_structured_answer_blocks reads them.
class Assembler {
 public:
  Assembler(const Self &self, AssemblyOutput &out) : self_(self), groups_(self, out), grouping_(groups_) {}

  void add(PyObject *element) {
    if (!PyDict_Check(element)) return;
    Ref type = get(element, py_str<"type">());
    Ref text_value = get(element, py_str<"text">());
    Ref text = trimmed_text(text_value.get());
    const bool has_text = is_true(text.get());
    if (!has_text && !counts_without_text(type.get())) return;

    switch (block_type(type.get())) {
      case BlockType::heading: {
        grouping_.before_block();
        Ref raw_level = get(element, py_str<"level">());
        Ref level = heading_level(raw_level.get());
        groups_.heading(text.get(), level.get());
        break;
      }
      case BlockType::paragraph:
        grouping_.before_block();
        groups_.text(text.get());
        break;
      case BlockType::list_item:
        grouping_.before_list_item();
        groups_.add_item(text.get());
        break;
      case BlockType::table_row:
        add_table_row(element, text.get(), has_text);
        break;
      case BlockType::other:
        break;
    }
  }

  void finish() { grouping_.flush(); }

 private:
  // A row the row step cannot read stands as its text, when it has one.
  void add_table_row(PyObject *element, PyObject *text, bool has_text) {
    grouping_.before_table_row();
    Ref row = call(self_, Step::normalize_structured_row, {element});
    if (PyList_Check(row.get()) && is_true(row.get())) {
      groups_.add_row(std::move(row));
    } else if (has_text) {
      grouping_.flush_table();
      groups_.text(text);
    }
  }

  const Self &self_;
  ObjectGroups groups_;
  Grouping<ObjectGroups> grouping_;
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

void assemble(const Self &self, Borrowed structured_blocks, AssemblyOutput &out) {
  Assembler assembler(self, out);
  for_each(structured_blocks, [&](PyObject *element) { assembler.add(element); });
  assembler.finish();
}

Ref build_structured_answer_blocks(PyObject *instance, Args args) {
  const Self self(instance);
  DisplayBlocks blocks;
  assemble(self, args[0], blocks);
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
