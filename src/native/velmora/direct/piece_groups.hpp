// The answer-body writer's groups (see shared/grouping.hpp): pending list
// items and table rows kept as pieces of strs, written out as display blocks
// when the grouping flushes them, with no lists or dicts in between. Text
// parsed from an answer and structured blocks are written through them alike.
#pragma once

#include <cstddef>
#include <memory_resource>
#include <utility>
#include <vector>

#include "binding/objects.hpp"
#include "binding/text.hpp"
#include "velmora/shared/block_lines.hpp"
#include "velmora/shared/grouping.hpp"

namespace velmora {

// `span` of the str `str`, which someone holds while the piece waits.
struct Piece {
  PyObject *str;
  Span span;
};

template <LineSink Sink>
class PieceGroups {
 public:
  // `unbroken`: no piece holds a line break (see LineSink's write_unbroken).
  // The pending groups are kept in `memory`.
  PieceGroups(BodyWriter<Sink> &body, bool unbroken, std::pmr::memory_resource *memory)
      : body_(body),
        unbroken_(unbroken),
        item_starts_(memory),
        item_pieces_(memory),
        row_starts_(memory),
        cells_(memory),
        kept_(memory) {}

  // Keeps `str` alive while its pieces wait; returns it, borrowed.
  PyObject *keep(Ref str) {
    kept_.push_back(std::move(str));
    return kept_.back().get();
  }

  // An item is its first text and its continuation lines, joined with " ".
  void add_item(Piece item) {
    item_starts_.push_back(item_pieces_.size());
    item_pieces_.push_back(item);
  }
  void continue_item(Piece more) { item_pieces_.push_back(more); }

  // A row: begin_row(), then its cells.
  void begin_row() { row_starts_.push_back(cells_.size()); }
  void add_cell(Piece cell) { cells_.push_back(cell); }

  // Headings and text blocks stand alone.
  void heading(PyObject *text, PyObject *level) {
    begin_block();
    BlockLines<Sink>::heading(body_, level, text);
  }
  void text(PyObject *text) {
    begin_block();
    BlockLines<Sink>::text(body_, text);
  }

  bool has_items() const { return !item_starts_.empty(); }
  void emit_list() {
    begin_block();
    for (std::size_t item = 0; item < item_starts_.size(); ++item) {
      body_.bullet();
      const std::size_t end = item + 1 < item_starts_.size() ? item_starts_[item + 1] : item_pieces_.size();
      for (std::size_t i = item_starts_[item]; i < end; ++i) {
        if (i > item_starts_[item]) body_.write_char(' ');
        write(item_pieces_[i]);
      }
    }
    item_starts_.clear();
    item_pieces_.clear();
    release_kept();
  }

  Py_ssize_t row_count() const { return static_cast<Py_ssize_t>(row_starts_.size()); }

  // A lone row is a text block: its cells joined with " | ", stripped.
  void emit_lone_row() {
    tavrin::TextWriter joined;
    for (std::size_t i = 0; i < cells_.size(); ++i) {
      if (i) joined.write_ascii(" | ", 3);
      joined.write(cells_[i].str, cells_[i].span);
    }
    Ref line = tavrin::strip(joined.finish().get());
    clear_rows();
    begin_block();
    if (PyUnicode_GET_LENGTH(line.get()) == 0) return;
    body_.line();
    write({line.get(), {0, PyUnicode_GET_LENGTH(line.get())}});
  }

  // The header row as it is, then every body row fitted to its width.
  void emit_table() {
    const auto width = static_cast<Py_ssize_t>(row_end(0));
    begin_block();
    write_row(0, width);
    body_.delimiter_row(width);
    for (std::size_t row = 1; row < row_starts_.size(); ++row) write_row(row, width);
    clear_rows();
  }

  // Were any blocks written?
  bool any() const { return blocks_ > 0; }

 private:
  void begin_block() {
    body_.begin_block();
    ++blocks_;
  }

  void write(const Piece &piece) {
    if (unbroken_) {
      body_.write_unbroken(piece.str, piece.span);
    } else {
      body_.write(piece.str, piece.span);
    }
  }

  std::size_t row_end(std::size_t row) const {
    return row + 1 < row_starts_.size() ? row_starts_[row + 1] : cells_.size();
  }

  void write_row(std::size_t row, Py_ssize_t width) {
    const std::size_t begin = row_starts_[row];
    const std::size_t end = row_end(row);
    const RowFit fit = fit_row(static_cast<Py_ssize_t>(end - begin), width);
    const std::size_t kept_end = begin + static_cast<std::size_t>(fit.kept);
    body_.begin_table_row();
    for (std::size_t i = begin; i < kept_end; ++i) {
      body_.table_cell();
      write(cells_[i]);
    }
    if (fit.merges_rest) {
      // The rest of the row joined with " | " into its last cell.
      body_.table_cell();
      for (std::size_t i = kept_end; i < end; ++i) {
        if (i > kept_end) body_.write_ascii(" | ", 3);
        write(cells_[i]);
      }
    }
    for (Py_ssize_t i = 0; i < fit.padding; ++i) body_.table_cell();
    body_.end_table_row();
  }

  void clear_rows() {
    row_starts_.clear();
    cells_.clear();
    release_kept();
  }

  // At most one kind of group is pending at a time.
  void release_kept() {
    if (item_starts_.empty() && row_starts_.empty()) kept_.clear();
  }

  BodyWriter<Sink> &body_;
  bool unbroken_;
  Py_ssize_t blocks_ = 0;
  std::pmr::vector<std::size_t> item_starts_;
  std::pmr::vector<Piece> item_pieces_;
  std::pmr::vector<std::size_t> row_starts_;
  std::pmr::vector<Piece> cells_;
  std::pmr::vector<Ref> kept_;
};

}  // namespace velmora
