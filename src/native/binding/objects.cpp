#include "binding/objects.hpp"

#include <cstdarg>
#include <cstring>

namespace tavrin {

void raise(PyObject *type, const char *format, ...) {
  va_list args;
  va_start(args, format);
  PyErr_FormatV(type, format, args);
  va_end(args);
  throw_error();
}

const char *type_name(PyObject *object) {
  // Static types carry their module in tp_name; __name__ is the last part.
  PyTypeObject *type = Py_TYPE(object);
  const char *name = type->tp_name;
  if (!(type->tp_flags & Py_TPFLAGS_HEAPTYPE))
    if (const char *dot = std::strrchr(name, '.')) name = dot + 1;
  return name;
}

Ref dict_lookup(PyObject *dict, PyObject *key) {
  PyObject *value = nullptr;
  if (check(PyDict_GetItemRef(dict, key, &value)) == 0) return none();
  return Ref::steal(value);
}

Ref get(PyObject *mapping, PyObject *key) {
  if (PyDict_CheckExact(mapping)) return dict_lookup(mapping, key);
  return owned(PyObject_CallMethodOneArg(mapping, py_str<"get">(), key));
}

Ref expect_result(Ref value, PyTypeObject *type) {
  if (value.get() != Py_None && Py_TYPE(value.get()) != type)
    raise(PyExc_TypeError, "Expected %s, got %.200s", type->tp_name, type_name(value.get()));
  return value;
}

}  // namespace tavrin
