// The few pieces of the interpreter's own behaviour that the text parsing
// steps reproduce in C++ when an override hands them something unusual.
#pragma once

#include "binding/objects.hpp"
#include "velmora/class/method_table.hpp"

namespace velmora {

// `list[index]` for an exact list: a negative index counts from the end.
inline Ref list_at(PyObject *list, Py_ssize_t index) {
  const Py_ssize_t size = PyList_GET_SIZE(list);
  if (index < 0) index += size;
  if (index < 0 || index >= size) tavrin::raise(PyExc_IndexError, "list index out of range");
  return tavrin::list_item(list, index);
}

// The TypeError of re.match(<str pattern>, subject) for a subject that is not a str.
[[noreturn]] inline void refuse_match_subject(PyObject *subject) {
  if (PyObject_CheckBuffer(subject))
    tavrin::raise(PyExc_TypeError, "cannot use a string pattern on a bytes-like object");
  tavrin::raise(PyExc_TypeError, "expected string or bytes-like object, got '%.200s'", tavrin::type_name(subject));
}

}  // namespace velmora
