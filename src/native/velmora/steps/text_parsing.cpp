// Answer text parsed into intermediate blocks through the steps: the line
// parse of line_parse.hpp, with every line recognised by the recogniser steps
// called through self and every block a dict of the step's result.
//
// Whatever an override hands back (lines that are no str, a table pair that
// is any iterable, blocks that change as they are read) is read as Python
// would read it; that is this file's concern and no other's.
#include "velmora/steps/text_parsing.hpp"

#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "binding/objects.hpp"
#include "binding/text.hpp"
#include "velmora/class/self_call.hpp"
#include "velmora/shared/line_breaks.hpp"
#include "velmora/shared/line_parse.hpp"
#include "velmora/steps/block_dicts.hpp"
#include "velmora/steps/python_rules.hpp"

namespace velmora {

using namespace tavrin;

namespace {

// Text kept for a later join: `span` of the str `text`. A piece that an
// override made may be any object, and then only Python's join can judge it.
struct TextPiece {
  Ref text;
  Span span;
  bool stripped = false;  // made by stripping an exact str: no whitespace at either end

  static TextPiece whole(Ref text) {
    Span span;
    if (PyUnicode_Check(text.get())) span.end = PyUnicode_GET_LENGTH(text.get());
    return {std::move(text), span};
  }
  bool is_str() const { return PyUnicode_Check(text.get()); }
};
using Piece = TextPiece;

Span &span_of(TextPiece &piece) { return piece.span; }

// The pieces joined with `separator`.
Ref join_pieces(std::span<const Piece> pieces, Py_UCS4 separator) {
  if (pieces.size() == 1) return substring(pieces[0].text.get(), pieces[0].span);
  Py_ssize_t length = static_cast<Py_ssize_t>(pieces.size()) - 1;
  for (const Piece &piece : pieces) length += piece.span.size();
  TextWriter writer(length);
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (i) writer.write_char(separator);
    writer.write(pieces[i].text.get(), pieces[i].span);
  }
  return writer.finish();
}

// "\n".join(pieces).strip(), for pieces that are not all str: join raises.
Ref python_paragraph_text(std::span<const Piece> pieces) {
  Ref items = new_list();
  for (const Piece &piece : pieces) {
    Ref item = piece.is_str() ? substring(piece.text.get(), piece.span) : piece.text;
    append(items.get(), item.get());
  }
  return strip(join(py_str<"\n">(), items.get()).get());
}

// "\n".join(pieces).strip()
Ref paragraph_text(std::span<Piece> pieces) {
  for (const Piece &piece : pieces)
    if (!piece.is_str()) return python_paragraph_text(pieces);
  const auto [first, last] = trim_paragraph(pieces, [](const Piece &piece) { return StrView(piece.text.get()); });
  if (first == last) return empty_str();
  return join_pieces(std::span(pieces).subspan(first, last - first), '\n');
}

// One element of `lines`. Exact str lines, the normal case, are read on their
// storage; anything else that an override handed over gets Python's calls.
class Line {
 public:
  explicit Line(Ref object) : object_(std::move(object)) {
    if (PyUnicode_CheckExact(object_.get())) {
      view_.emplace(object_.get());
      trimmed_ = view_->strip(view_->all());
    } else {
      trimmed_object_ = call_method(object_.get(), py_str<"strip">());
    }
  }

  PyObject *object() const { return object_.get(); }

  // trimmed.startswith("```")
  bool is_fence() const {
    if (view_) return view_->starts_with(trimmed_, "```");
    return is_true(
        owned(PyObject_CallMethodOneArg(trimmed_object_.get(), py_str<"startswith">(), py_str<"```">())).get());
  }

  // not trimmed
  bool is_blank() const { return view_ ? trimmed_.empty() : !is_true(trimmed_object_.get()); }

  // re.match(r"^\s+", line)
  bool is_indented() const {
    if (!PyUnicode_Check(object_.get())) refuse_match_subject(object_.get());
    const StrView view(object_.get());
    return view.size() > 0 && is_space(view[0]);
  }

  // line.rstrip()
  Piece rstripped() const {
    if (view_) return {object_, view_->rstrip(view_->all())};
    return Piece::whole(call_method(object_.get(), py_str<"rstrip">()));
  }

  // trimmed, as an f-string reads it
  Piece trimmed() const {
    if (view_) return {object_, trimmed_, true};
    return Piece::whole(owned(PyObject_Format(trimmed_object_.get(), nullptr)));
  }

 private:
  Ref object_;
  std::optional<StrView> view_;
  Span trimmed_;
  Ref trimmed_object_;
};

// table_block, next_index = table
std::pair<Ref, Ref> unpack_pair(PyObject *pair) {
  if (PyTuple_CheckExact(pair) || PyList_CheckExact(pair)) {
    const tavrin::CriticalSection held_still(pair);
    const Py_ssize_t size = PySequence_Fast_GET_SIZE(pair);
    if (size > 2) raise(PyExc_ValueError, "too many values to unpack (expected 2)");
    if (size < 2) raise(PyExc_ValueError, "not enough values to unpack (expected 2, got %zd)", size);
    PyObject **items = PySequence_Fast_ITEMS(pair);
    return {Ref::new_reference(items[0]), Ref::new_reference(items[1])};
  }
  Ref iterator = owned(PyObject_GetIter(pair));
  Ref items[2];
  for (int i = 0; i < 2; ++i) {
    items[i] = next_item(iterator.get());
    if (!items[i]) raise(PyExc_ValueError, "not enough values to unpack (expected 2, got %d)", i);
  }
  if (next_item(iterator.get())) raise(PyExc_ValueError, "too many values to unpack (expected 2)");
  return {std::move(items[0]), std::move(items[1])};
}

class IntermediateBlocks;

// The lines _normalize_text_lines returned, read as the loop reads them: the
// length again before every line (an override handed `lines` may change
// it), items by Python indexing; each recognised by its step through self.
class StepLines {
 public:
  using Piece = TextPiece;

  StepLines(const Self &self, Ref lines)
      : self_(self), lines_(std::move(lines)), exact_list_(PyList_CheckExact(lines_.get())) {}

  Py_ssize_t size() const {
    if (exact_list_) return PyList_GET_SIZE(lines_.get());
    const Py_ssize_t size = PyObject_Size(lines_.get());
    if (size < 0) throw_error();
    return size;
  }

  Line at(Py_ssize_t index) const {
    if (exact_list_) return Line(list_at(lines_.get(), index));
    Ref key = owned(PyLong_FromSsize_t(index));
    return Line(owned(PyObject_GetItem(lines_.get(), key.get())));
  }

  static bool is_fence(const Line &line) { return line.is_fence(); }
  static bool is_blank(const Line &line) { return line.is_blank(); }
  static bool is_indented(const Line &line) { return line.is_indented(); }
  static Piece rstripped(const Line &line) { return line.rstripped(); }
  static Piece trimmed(const Line &line) { return line.trimmed(); }

  std::optional<Ref> heading(const Line &line) const { return if_true(Step::parse_markdown_heading, line); }
  std::optional<Ref> list_item(const Line &line) const { return if_true(Step::parse_markdown_list_item, line); }

  // The pair the table step returned, when it is true.
  std::optional<Ref> table(Py_ssize_t index) const {
    Ref position = owned(PyLong_FromSsize_t(index));
    Ref table = call(self_, Step::parse_markdown_table, {lines_.get(), position.get()});
    if (!is_true(table.get())) return std::nullopt;
    return table;
  }
  // Emits the table of the pair; returns where the parse goes on.
  std::optional<Py_ssize_t> take_table(const Ref &pair, IntermediateBlocks &blocks) const;

 private:
  std::optional<Ref> if_true(Step step, const Line &line) const {
    Ref block = call(self_, step, {line.object()});
    if (!is_true(block.get())) return std::nullopt;
    return block;
  }

  // The loop goes on at `next_index`, which an override may have made any
  // object: like Python, compare it with the length, then index with it.
  std::optional<Py_ssize_t> resume_index(PyObject *next_index) const {
    if (PyLong_Check(next_index)) {
      const IndexValue index = index_value(next_index);
      if (!index.overflow) return index.value;
    }
    Ref length = owned(PyLong_FromSsize_t(size()));
    if (!check(PyObject_RichCompareBool(next_index, length.get(), Py_LT))) return std::nullopt;
    Ref line = owned(PyObject_GetItem(lines_.get(), next_index));
    return check_value(PyNumber_AsSsize_t(next_index, PyExc_IndexError));
  }

  const Self &self_;
  Ref lines_;
  bool exact_list_;
};

// A list item whose continuation lines have not been joined into its "text"
// yet. Joining at every line would copy the growing text again each time;
// instead the pieces are joined once, when the item stops being the last
// block or the parse ends. Each step strips (current + " " + line), and since
// the lines are stripped and non-empty this amounts to: the first text
// without its leading whitespace (left out when blank), then every line, all
// joined with " ".
class PendingItem {
 public:
  bool active() const { return static_cast<bool>(block_); }

  // `block` is an exact dict with an exact str "text".
  void start(PyObject *block) {
    block_ = Ref::new_reference(block);
    Ref text = dict_lookup(block, py_str<"text">());
    const Span base = StrView(text.get()).lstrip({0, PyUnicode_GET_LENGTH(text.get())});
    if (!base.empty()) pieces_.push_back({std::move(text), base});
  }

  void add(Piece line) { pieces_.push_back(std::move(line)); }

  void settle() {
    if (!active()) return;
    Ref text = join_pieces(pieces_, ' ');
    pieces_.clear();
    Ref block = std::move(block_);
    set_item(block.get(), py_str<"text">(), text.get());
  }

 private:
  Ref block_;
  std::vector<Piece> pieces_;
};

// Deferring the join is invisible only when nothing else holds the item
// (`blocks` has the one reference) and reading it runs no Python code.
bool can_defer(PyObject *block) {
  if (!PyDict_CheckExact(block) || !tavrin::is_sole_reference(block)) return false;
  Py_ssize_t position = 0;
  PyObject *key = nullptr;
  PyObject *value = nullptr;
  while (PyDict_Next(block, &position, &key, &value))
    if (!PyUnicode_CheckExact(key)) return false;
  Ref kind = dict_lookup(block, py_str<"kind">());
  Ref text = dict_lookup(block, py_str<"text">());
  return PyUnicode_CheckExact(kind.get()) && PyUnicode_CheckExact(text.get());
}

// blocks[-1]["text"] = f"{blocks[-1]['text']} {trimmed}".strip()
void extend_now(PyObject *last_block, const Piece &tail) {
  Ref block = Ref::new_reference(last_block);
  Ref current = owned(PyObject_GetItem(block.get(), py_str<"text">()));
  Ref head = owned(PyObject_Format(current.get(), nullptr));
  Ref tail_text = substring(tail.text.get(), tail.span);
  Ref joined = concat({head.get(), py_str<" ">(), tail_text.get()});
  Ref text = strip(joined.get());
  check(PyObject_SetItem(block.get(), py_str<"text">(), text.get()));
}

// The blocks of _build_text_fallback_blocks: what the recognisers returned,
// and a "text" block for each paragraph.
class IntermediateBlocks {
 public:
  IntermediateBlocks() : blocks_(new_list()) {}

  void heading(Ref block) { emit(block.get()); }
  void table(Ref block) { emit(block.get()); }
  void list_item(Ref block) { emit(block.get()); }

  void paragraph(std::span<Piece> lines) {
    Ref text = paragraph_text(lines);
    if (PyUnicode_GET_LENGTH(text.get()) > 0) emit(parsed_text_block(text.get()).get());
  }

  bool last_is_list_item() const {
    if (pending_.active()) return true;  // the pending item is still the last block
    if (PyList_GET_SIZE(blocks_.get()) == 0) return false;
    Ref last = Ref::new_reference(last_block());
    Ref kind = get(last.get(), py_str<"kind">());
    return compares(kind.get(), py_str<"list_item">(), Py_EQ);
  }

  void continue_item(Piece line) {
    if (line.stripped) {
      if (!pending_.active() && can_defer(last_block())) pending_.start(last_block());
      if (pending_.active()) {
        pending_.add(std::move(line));
        return;
      }
    } else {
      pending_.settle();
    }
    extend_now(last_block(), line);
  }

  Ref finish() {
    pending_.settle();
    return std::move(blocks_);
  }

 private:
  void emit(PyObject *block) {
    pending_.settle();
    append(blocks_.get(), block);
  }

  // blocks[-1], borrowed. Python code run since the list was last looked at
  // (a block's get or __eq__) may have emptied it: then Python's IndexError.
  PyObject *last_block() const {
    const Py_ssize_t size = PyList_GET_SIZE(blocks_.get());
    if (size == 0) raise(PyExc_IndexError, "list index out of range");
    return PyList_GET_ITEM(blocks_.get(), size - 1);
  }

  Ref blocks_;
  PendingItem pending_;
};

std::optional<Py_ssize_t> StepLines::take_table(const Ref &pair, IntermediateBlocks &blocks) const {
  auto [block, next_index] = unpack_pair(pair.get());
  blocks.table(std::move(block));
  return resume_index(next_index.get());
}

}  // namespace

Ref normalize_text_lines(PyObject *, Args args) {
  PyObject *text = args[0];
  std::vector<Span> spans;
  std::vector<unsigned char> pipes;
  split_lines(text, spans, pipes);
  Ref lines = new_list();
  for (const Span &span : spans) append(lines.get(), substring(text, span).get());
  return lines;
}

Ref build_text_fallback_blocks(PyObject *instance, Args args) {
  const Self self(instance);
  PyObject *text = args[0];
  StepLines lines(self, call(self, Step::normalize_text_lines, {text}));
  IntermediateBlocks parsed;
  LineParse(lines, parsed).run();
  Ref blocks = parsed.finish();
  if (PyList_GET_SIZE(blocks.get()) > 0) return blocks;
  // Nothing recognised (only overrides can cause that for non-blank text):
  // the whole text is one paragraph.
  Ref stripped = strip(text);
  if (PyUnicode_GET_LENGTH(stripped.get()) > 0) append(blocks.get(), parsed_text_block(stripped.get()).get());
  return blocks;
}

}  // namespace velmora
