// The grouping of blocks that both roads assemble: headings and paragraphs
// stand alone, a run of list items becomes one list, a run of table rows one
// table, its body rows fitted to the header's width; a lone row never becomes
// a table.
//
// The grouping is written once, in Grouping; what the pending items and rows
// are, and what a flushed group becomes, is up to its `Groups`: Python
// objects for the steps, spans of an answer's text on the direct road.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace velmora {

// `Groups` keeps the pending list items and table rows (at most one kind at
// a time) and makes display blocks of them:
//   bool has_items(), void emit_list()          the pending list, emptied
//   Py_ssize_t row_count()
//   void emit_lone_row(), void emit_table()     the pending rows, emptied
template <class Groups>
class Grouping {
 public:
  explicit Grouping(Groups &groups) : groups_(groups) {}

  // A heading or a paragraph follows what is pending.
  void before_block() { flush(); }
  // A list item ends a pending table, a table row a pending list.
  void before_list_item() { flush_table(); }
  void before_table_row() { flush_list(); }

  void flush() {
    flush_list();
    flush_table();
  }
  void flush_list() {
    if (groups_.has_items()) groups_.emit_list();
  }
  void flush_table() {
    if (groups_.row_count() > 0) emit_rows();
  }

 private:
  // A lone row never becomes a table.
  void emit_rows() {
    if (groups_.row_count() == 1) {
      groups_.emit_lone_row();
    } else {
      groups_.emit_table();
    }
  }

  Groups &groups_;
};

// How a row of `size` cells fits a table `width` cells wide: a shorter row
// is padded with empty cells, a longer one keeps its first width - 1 cells
// and joins the rest with " | " into one last cell. As the step does it with
// Python's slices, below a width of 1 the split counts from the row's end.
struct RowFit {
  Py_ssize_t kept;     // cells kept as they are, from the first
  bool merges_rest;    // then one cell joining the other cells
  Py_ssize_t padding;  // then this many empty cells
};

inline RowFit fit_row(Py_ssize_t size, Py_ssize_t width) {
  if (size <= width) return {size, false, width - size};
  Py_ssize_t split = 0;
  if (width >= 1) {
    split = width - 1;
  } else if (width > -size) {
    split = size + width - 1;
  }
  return {split, true, 0};
}

}  // namespace velmora
