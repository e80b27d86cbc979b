// Answer text parsed into intermediate blocks: paragraphs (fenced code stays
// inside them), headings, list items with their continuation lines, and
// tables, in one forward pass over the lines.
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "binding/objects.hpp"
#include "binding/text.hpp"
#include "velmora/python_rules.hpp"
#include "velmora/self_call.hpp"

namespace velmora {

using namespace tavrin;

namespace {

// Text kept for a later join: `span` of the str `text`. A piece that an
// override made may be any object, and then only Python's join can judge it.
struct Piece {
  Ref text;
  Span span;

  static Piece whole(Ref text) {
    Span span;
    if (PyUnicode_Check(text.get())) span.end = PyUnicode_GET_LENGTH(text.get());
    return {std::move(text), span};
  }
  bool is_str() const { return PyUnicode_Check(text.get()); }
  bool is_blank() const { return StrView(text.get()).is_blank(span); }
};

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
Ref python_paragraph_text(const std::vector<Piece> &pieces) {
  Ref items = new_list();
  for (const Piece &piece : pieces) {
    Ref item = piece.is_str() ? substring(piece.text.get(), piece.span) : piece.text;
    append(items.get(), item.get());
  }
  return strip(join(py_str<"\n">(), items.get()).get());
}

// "\n".join(pieces).strip() without building the unstripped join: the blank
// pieces at either end vanish with the separators around them.
Ref paragraph_text(std::vector<Piece> &pieces) {
  for (const Piece &piece : pieces)
    if (!piece.is_str()) return python_paragraph_text(pieces);
  std::size_t first = 0;
  std::size_t last = pieces.size();
  while (first < last && pieces[first].is_blank()) ++first;
  if (first == last) return empty_str();
  while (pieces[last - 1].is_blank()) --last;
  pieces[first].span = StrView(pieces[first].text.get()).lstrip(pieces[first].span);
  pieces[last - 1].span = StrView(pieces[last - 1].text.get()).rstrip(pieces[last - 1].span);
  return join_pieces(std::span(pieces).subspan(first, last - first), '\n');
}

Ref text_block(PyObject *text) {
  Ref block = new_dict();
  set_item(block.get(), py_str<"kind">(), py_str<"text">());
  set_item(block.get(), py_str<"text">(), text);
  return block;
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
  bool is_exact_str() const { return view_.has_value(); }

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
    if (view_) return {object_, trimmed_};
    return Piece::whole(owned(PyObject_Format(trimmed_object_.get(), nullptr)));
  }

 private:
  Ref object_;
  std::optional<StrView> view_;
  Span trimmed_;
  Ref trimmed_object_;
};

// What _normalize_text_lines returned, read as the loop reads it: its length
// again before every line (an override handed `lines` may change it), items
// by Python indexing.
class Lines {
 public:
  explicit Lines(Ref lines) : lines_(std::move(lines)), exact_list_(PyList_CheckExact(lines_.get())) {}

  PyObject *get() const { return lines_.get(); }

  Py_ssize_t size() const {
    if (exact_list_) return PyList_GET_SIZE(lines_.get());
    const Py_ssize_t size = PyObject_Size(lines_.get());
    if (size < 0) throw_error();
    return size;
  }

  Ref at(Py_ssize_t index) const {
    if (exact_list_) return list_item(lines_.get(), index);
    Ref key = owned(PyLong_FromSsize_t(index));
    return owned(PyObject_GetItem(lines_.get(), key.get()));
  }

 private:
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
    block_ = Ref::borrow(block);
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
  if (!PyDict_CheckExact(block) || Py_REFCNT(block) != 1) return false;
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
void extend_now(PyObject *last_block, const Line &line) {
  Ref block = Ref::borrow(last_block);
  Ref current = owned(PyObject_GetItem(block.get(), py_str<"text">()));
  Ref head = owned(PyObject_Format(current.get(), nullptr));
  const Piece tail = line.trimmed();
  Ref tail_text = substring(tail.text.get(), tail.span);
  Ref joined = concat({head.get(), py_str<" ">(), tail_text.get()});
  Ref text = strip(joined.get());
  check(PyObject_SetItem(block.get(), py_str<"text">(), text.get()));
}

// table_block, next_index = table
std::pair<Ref, Ref> unpack_pair(PyObject *pair) {
  if (PyTuple_CheckExact(pair) || PyList_CheckExact(pair)) {
    const Py_ssize_t size = PySequence_Fast_GET_SIZE(pair);
    if (size > 2) raise(PyExc_ValueError, "too many values to unpack (expected 2)");
    if (size < 2) raise(PyExc_ValueError, "not enough values to unpack (expected 2, got %zd)", size);
    PyObject **items = PySequence_Fast_ITEMS(pair);
    return {Ref::borrow(items[0]), Ref::borrow(items[1])};
  }
  Ref iterator = owned(PyObject_GetIter(pair));
  Ref items[2];
  for (int i = 0; i < 2; ++i) {
    PyObject *item = PyIter_Next(iterator.get());
    if (!item) {
      if (PyErr_Occurred()) throw_error();
      raise(PyExc_ValueError, "not enough values to unpack (expected 2, got %d)", i);
    }
    items[i] = Ref::steal(item);
  }
  if (PyObject *extra = PyIter_Next(iterator.get())) {
    Py_DECREF(extra);
    raise(PyExc_ValueError, "too many values to unpack (expected 2)");
  }
  if (PyErr_Occurred()) throw_error();
  return {std::move(items[0]), std::move(items[1])};
}

class FallbackParse {
 public:
  FallbackParse(PyObject *self, Ref lines) : self_(self), lines_(std::move(lines)), blocks_(new_list()) {}

  Ref run() {
    std::optional<Py_ssize_t> index = 0;
    while (index && *index < lines_.size()) index = take_line(*index);
    flush_paragraph();
    pending_.settle();
    return std::move(blocks_);
  }

 private:
  // Applies the first rule that fits the line at `index`; returns where the
  // parse goes on, or nothing when it is over.
  std::optional<Py_ssize_t> take_line(Py_ssize_t index) {
    const Line line(lines_.at(index));
    const Py_ssize_t next = index + 1;
    if (line.is_fence()) {
      in_code_fence_ = !in_code_fence_;
      paragraph_.push_back(line.rstripped());
      return next;
    }
    if (in_code_fence_) {
      paragraph_.push_back(line.rstripped());
      return next;
    }
    if (line.is_blank()) {
      flush_paragraph();
      return next;
    }
    if (emit_if_true(call(self_, Step::parse_markdown_heading, {line.object()}))) return next;
    Ref position = owned(PyLong_FromSsize_t(index));
    Ref table = call(self_, Step::parse_markdown_table, {lines_.get(), position.get()});
    if (is_true(table.get())) {
      flush_paragraph();
      auto [block, next_index] = unpack_pair(table.get());
      emit(block.get());
      return resume_index(next_index.get());
    }
    if (emit_if_true(call(self_, Step::parse_markdown_list_item, {line.object()}))) return next;
    if (continues_list_item(line)) {
      extend_list_item(line);
      return next;
    }
    paragraph_.push_back(line.rstripped());
    return next;
  }

  bool emit_if_true(Ref block) {
    if (!is_true(block.get())) return false;
    flush_paragraph();
    emit(block.get());
    return true;
  }

  void emit(PyObject *block) {
    pending_.settle();
    append(blocks_.get(), block);
  }

  void flush_paragraph() {
    if (paragraph_.empty()) return;
    std::vector<Piece> pieces = std::exchange(paragraph_, {});
    Ref text = paragraph_text(pieces);
    if (PyUnicode_GET_LENGTH(text.get()) > 0) emit(text_block(text.get()).get());
  }

  // blocks[-1], borrowed. Python code run since the list was last looked at
  // (a block's get or __eq__) may have emptied it: then Python's IndexError.
  PyObject *last_block() const {
    const Py_ssize_t size = PyList_GET_SIZE(blocks_.get());
    if (size == 0) raise(PyExc_IndexError, "list index out of range");
    return PyList_GET_ITEM(blocks_.get(), size - 1);
  }

  bool continues_list_item(const Line &line) const {
    if (!line.is_indented()) return false;
    if (pending_.active()) return true;  // the pending item is still the last block
    if (PyList_GET_SIZE(blocks_.get()) == 0) return false;
    Ref last = Ref::borrow(last_block());
    Ref kind = get(last.get(), py_str<"kind">());
    return compares(kind.get(), py_str<"list_item">(), Py_EQ);
  }

  void extend_list_item(const Line &line) {
    if (line.is_exact_str()) {
      if (!pending_.active() && can_defer(last_block())) pending_.start(last_block());
      if (pending_.active()) {
        pending_.add(line.trimmed());
        return;
      }
    } else {
      pending_.settle();
    }
    extend_now(last_block(), line);
  }

  // The loop goes on at `next_index`, which an override may have made any
  // object: like Python, compare it with the length, then index with it.
  std::optional<Py_ssize_t> resume_index(PyObject *next_index) const {
    if (PyLong_Check(next_index)) {
      const Py_ssize_t value = PyLong_AsSsize_t(next_index);
      if (value != -1 || !PyErr_Occurred()) return value;
      if (!PyErr_ExceptionMatches(PyExc_OverflowError)) throw_error();
      PyErr_Clear();
    }
    Ref length = owned(PyLong_FromSsize_t(lines_.size()));
    if (!check(PyObject_RichCompareBool(next_index, length.get(), Py_LT))) return std::nullopt;
    Ref line = owned(PyObject_GetItem(lines_.get(), next_index));
    const Py_ssize_t value = PyNumber_AsSsize_t(next_index, PyExc_IndexError);
    if (value == -1 && PyErr_Occurred()) throw_error();
    return value;
  }

  PyObject *self_;
  Lines lines_;
  Ref blocks_;
  std::vector<Piece> paragraph_;
  PendingItem pending_;
  bool in_code_fence_ = false;
};

}  // namespace

Ref normalize_text_lines(PyObject *, Args args) {
  PyObject *text = args[0];
  const StrView view(text);
  Ref lines = new_list();
  Py_ssize_t start = 0;
  for (Py_ssize_t pos = 0; pos < view.size(); ++pos) {
    const Py_UCS4 ch = view[pos];
    if (ch != '\n' && ch != '\r') continue;
    append(lines.get(), substring(text, {start, pos}).get());
    if (ch == '\r' && pos + 1 < view.size() && view[pos + 1] == '\n') ++pos;
    start = pos + 1;
  }
  append(lines.get(), substring(text, {start, view.size()}).get());
  return lines;
}

Ref build_text_fallback_blocks(PyObject *self, Args args) {
  PyObject *text = args[0];
  Ref blocks = FallbackParse(self, call(self, Step::normalize_text_lines, {text})).run();
  if (PyList_GET_SIZE(blocks.get()) > 0) return blocks;
  // Nothing recognised (only overrides can cause that for non-blank text):
  // the whole text is one paragraph.
  Ref stripped = strip(text);
  if (PyUnicode_GET_LENGTH(stripped.get()) > 0) append(blocks.get(), text_block(stripped.get()).get());
  return blocks;
}

}  // namespace velmora
