// Thin, throwing wrappers for the Python operations the steps perform on
// payload objects. They keep Python's semantics (subclass methods are
// honoured, exceptions propagate) and take the direct route for exact types.
#pragma once

#include <algorithm>
#include <array>
#include <concepts>
#include <cstddef>

#include "binding/free_threading.hpp"
#include "binding/ref.hpp"

namespace tavrin {

// A compile-time string usable as a template argument: py_str<"answers">().
template <std::size_t N>
struct Literal {
  char text[N];
  constexpr Literal(const char (&source)[N]) { std::copy_n(source, N, text); }
};

// An interned str for a literal, made once and kept for the life of the
// process (the modules live as long as their single interpreter).
template <Literal L>
PyObject *py_str() {
  static std::atomic<PyObject *> object{nullptr};
  return made_once(object, [] { return owned(PyUnicode_InternFromString(L.text)); });
}

// type(object).__name__, for messages.
const char *type_name(Borrowed object);

// bool(object); the payload's common exact types answer without a call.
inline bool is_true(Borrowed object) {
  if (PyUnicode_CheckExact(object)) return PyUnicode_GET_LENGTH(object) != 0;
  if (object == Py_True || object == Py_False || object == Py_None) return object == Py_True;
  if (PyList_CheckExact(object)) return PyList_GET_SIZE(object) != 0;
  return check(PyObject_IsTrue(object)) != 0;
}

// `left == right` (op Py_EQ) or `left != right` (Py_NE) and the other rich
// comparisons, with the operands' own methods honoured; two exact str are
// compared in place.
bool compares_values(Borrowed left, Borrowed right, int op);
inline bool compares(Borrowed left, Borrowed right, int op) {
  // An object equals itself, as PyObject_RichCompareBool also decides.
  if (left == right && (op == Py_EQ || op == Py_NE)) return op == Py_EQ;
  return compares_values(left, right, op);
}

// An int (or int subclass) as an index: its value, or, when it lies beyond
// what an index holds, the side on which it does (overflow +1 or -1).
struct IndexValue {
  Py_ssize_t value = 0;
  int overflow = 0;
};
IndexValue index_value(Borrowed integer);

// The value of an int (or int subclass), clamped to [low, high]: an int
// beyond what a machine word holds clamps too.
Py_ssize_t clamped_int(Borrowed integer, Py_ssize_t low, Py_ssize_t high);

// `str(object)`. An exact str is its own str: handed back without the call,
// whose signal check costs more than the rest when a list of strs is rendered.
inline Ref to_str(Borrowed object) {
  if (PyUnicode_CheckExact(object)) return Ref::new_reference(object);
  return owned(PyObject_Str(object));
}

inline Ref new_list(Py_ssize_t size = 0) { return owned(PyList_New(size)); }

inline void append(Borrowed list, Borrowed item) { check(PyList_Append(list, item)); }

inline Ref new_dict() { return owned(PyDict_New()); }

inline void set_item(Borrowed dict, Borrowed key, Borrowed value) { check(PyDict_SetItem(dict, key, value)); }

// `mapping[key]` for an exact dict, giving None when missing.
Ref dict_lookup(Borrowed dict, Borrowed key);

// The values of an exact dict under the keys of interest, read in one pass
// over its entries instead of a lookup per key: `slot_of(key)` gives a key's
// slot in `values` (or a negative number); missing ones are left as they
// are. False, with `values` partly filled, when a key is no exact str:
// comparing it might run Python code, as a lookup would.
template <std::size_t N, class SlotOf>
bool read_entries(Borrowed dict, SlotOf &&slot_of, std::array<HeldValue, N> &values) {
  const CriticalSection held_still(dict);
  Py_ssize_t position = 0;
  PyObject *key = nullptr;
  PyObject *value = nullptr;
  while (PyDict_Next(dict, &position, &key, &value)) {
    if (!PyUnicode_CheckExact(key)) return false;
    const int slot = slot_of(key);
    if (slot >= 0) values[static_cast<std::size_t>(slot)].hold(value);
  }
  return true;
}

// A value whose use as text or truth runs no Python code: an exact str,
// None, True or False.
inline bool is_inert(Borrowed value) {
  return PyUnicode_CheckExact(value) || value.get() == Py_None || PyBool_Check(value);
}

// `mapping.get(key)`: the dict lookup for an exact dict, otherwise a call of
// the object's own `get` method.
Ref get(Borrowed mapping, Borrowed key);

// `mapping.get(key, default)`; `make_default` runs only when Python would
// need the default object.
template <std::invocable MakeDefault>
Ref get_or(Borrowed mapping, Borrowed key, MakeDefault &&make_default) {
  if (PyDict_CheckExact(mapping)) {
    PyObject *value = nullptr;
    if (check(PyDict_GetItemRef(mapping, key, &value))) return Ref::steal(value);
    return make_default();
  }
  Ref fallback = make_default();
  PyObject *argv[] = {mapping, key, fallback.get()};
  return owned(PyObject_VectorcallMethod(py_str<"get">(), argv, 3, nullptr));
}

inline Ref get_or(Borrowed mapping, Borrowed key, Borrowed fallback) {
  return get_or(mapping, key, [fallback] { return Ref::new_reference(fallback); });
}

// Reads of several keys of a mapping, in the order a step reads them. An
// exact dict whose keys are all exact str is read in one pass over its
// entries, and each value handed out at its turn as the lookup would find it
// then, for as long as no Python code can have run since the pass (code that
// might change the dict). From there on, and for any other mapping, a key is
// read through the mapping's own get at its turn.
//   `Keys` names the keys: an enum `Keys::Key` ending in `count`,
//   `Keys::name(key)` its str and `Keys::slot_of(str)` its slot (or -1).
template <class Keys>
class DictReads {
 public:
  using Key = typename Keys::Key;

  explicit DictReads(Borrowed mapping) : mapping_(mapping) {
    fresh_ = PyDict_CheckExact(mapping) && read_entries(mapping, Keys::slot_of, values_);
  }
  Ref operator()(Key key) const {
    if (!fresh_) return get(mapping_, Keys::name(key));
    PyObject *value = peek(key);
    return Ref::new_reference(value ? value : Py_None);
  }
  // The value found by the pass, borrowed (nullptr when missing): only while fresh().
  PyObject *peek(Key key) const { return values_[static_cast<std::size_t>(key)].get(); }
  bool fresh() const { return fresh_; }
  void python_may_have_run() { fresh_ = false; }

 private:
  Borrowed mapping_;
  std::array<HeldValue, static_cast<std::size_t>(Key::count)> values_{};
  bool fresh_ = false;
};

// `object.name()`.
inline Ref call_method(Borrowed object, Borrowed name) { return owned(PyObject_CallMethodNoArgs(object, name)); }

// `separator.join(iterable)`, with str.join's own errors.
inline Ref join(Borrowed separator, Borrowed iterable) { return owned(PyUnicode_Join(separator, iterable)); }

// The TypeError of str.join for its item at `index`, of `type`, that is no str.
[[noreturn]] void raise_join_item_error(Py_ssize_t index, PyTypeObject *type);

// The result test for a value handed on from another method: it must be
// exactly `type` or None, else TypeError "Expected <name>, got <type>".
Ref expect_result(Ref value, PyTypeObject *type);

// next(iterator): the next item, or an empty Ref at the end.
inline Ref next_item(Borrowed iterator) {
  if (PyObject *item = PyIter_Next(iterator)) return Ref::steal(item);
  if (PyErr_Occurred()) throw_error();
  return Ref();
}

// Calls `visit(item)` (item borrowed for the call) for every element of
// `iterable`, with the iteration protocol of a Python for loop.
template <class Visit>
void for_each(Borrowed iterable, Visit &&visit) {
  if (PyList_CheckExact(iterable)) {
    // What list iteration does: the list is held, and its length is read
    // again before each item, so a list that grows or shrinks is followed.
    const Ref list = Ref::new_reference(iterable);
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list.get()); ++i) {
      Ref item = list_item_if_present(list.get(), i);
      if (!item) break;  // another thread shrank the list since its length was read
      visit(item.get());
    }
    return;
  }
  Ref iterator = owned(PyObject_GetIter(iterable));
  while (Ref item = next_item(iterator.get())) visit(item.get());
}

}  // namespace tavrin
