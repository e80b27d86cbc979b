// Assembly of structured blocks into display blocks: headings and paragraphs
// stand alone, a run of list items becomes one list, a run of table rows one
// table, by the grouping of shared/grouping.hpp. When the structured blocks
// give nothing, the answer text decides.
//
// The reading of the blocks is written once, in Assembler; what they become
// is up to its `Groups`: the step's display block dicts, or the answer-body
// writer's lines.
#pragma once

#include "binding/objects.hpp"
#include "binding/text.hpp"
#include "velmora/class/self_call.hpp"
#include "velmora/shared/grouping.hpp"

namespace velmora {

// The keys of a structured block that assembly reads, for tavrin::DictReads.
struct BlockKeys {
  enum class Key { type, text, level, cells, count };
  static PyObject *name(Key key);
  static int slot_of(PyObject *key);
};
using BlockKey = BlockKeys::Key;
using BlockReads = tavrin::DictReads<BlockKeys>;

// The four block types assembly knows, and any other, as `type == ...`
// decides them.
enum class BlockType { heading, paragraph, list_item, table_row, other };
BlockType block_type(PyObject *type);
// Only a table row counts without text.
bool counts_without_text(PyObject *type);
// A heading's display level: an int (bool included) within the display
// levels; anything else reads as 2.
Ref heading_level(PyObject *value);

// Structured blocks read as _build_structured_answer_blocks reads them, into
// `Groups`, which takes, besides what Grouping asks of it:
//   heading(text, level), text(text)   a block of its own
//   add_item(text)                     a list item's text
//   bool add_row(block, reads)         the row _normalize_structured_row reads
//                                      of the block, when it is a usable one
template <class Groups>
class Assembler {
 public:
  explicit Assembler(Groups &groups) : groups_(groups), grouping_(groups) {}

  void add(PyObject *element) {
    if (!PyDict_Check(element)) return;
    BlockReads read(element);
    Ref type = read(BlockKey::type);
    Ref text_value = read(BlockKey::text);
    // Comparing a type that is no str, or making text of a value that is none,
    // may run Python code.
    if (!PyUnicode_CheckExact(type.get()) || !tavrin::is_inert(text_value)) read.python_may_have_run();
    Ref text = tavrin::trimmed_text(text_value.get());
    const bool has_text = tavrin::is_true(text.get());
    if (!has_text && !counts_without_text(type.get())) return;

    switch (block_type(type.get())) {
      case BlockType::heading: {
        grouping_.before_block();
        Ref raw_level = read(BlockKey::level);
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
        // A row the row step cannot read stands as its text, when it has one.
        grouping_.before_table_row();
        if (!groups_.add_row(element, read) && has_text) {
          grouping_.flush_table();
          groups_.text(text.get());
        }
        break;
      case BlockType::other:
        break;
    }
  }

  void finish() { grouping_.flush(); }

 private:
  Groups &groups_;
  Grouping<Groups> grouping_;
};

// The steps of this file.
Ref build_answer_blocks(PyObject *self, Args args);
Ref build_structured_answer_blocks(PyObject *self, Args args);
Ref normalize_structured_row(PyObject *self, Args args);
Ref normalize_row_cells(PyObject *self, Args args);

}  // namespace velmora
