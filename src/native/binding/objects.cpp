#include "binding/objects.hpp"

#include <cstdarg>
#include <cstdint>
#include <cstring>

namespace tavrin {

void set_error_for_current_exception() noexcept {
  try {
    throw;
  } catch (const PyErrorSet &) {
  } catch (const std::bad_alloc &) {
    PyErr_NoMemory();
  } catch (const std::length_error &) {
    PyErr_NoMemory();
  } catch (const std::exception &error) {
    PyErr_Format(PyExc_SystemError, "unexpected C++ exception: %s", error.what());
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "unexpected C++ exception");
  }
}

void raise(PyObject *type, const char *format, ...) {
  va_list args;
  va_start(args, format);
  PyErr_FormatV(type, format, args);
  va_end(args);
  throw_error();
}

const char *type_name(Borrowed object) {
  // Static types carry their module in tp_name; __name__ is the last part.
  PyTypeObject *type = Py_TYPE(object);
  const char *name = type->tp_name;
  if (!(type->tp_flags & Py_TPFLAGS_HEAPTYPE))
    if (const char *dot = std::strrchr(name, '.')) name = dot + 1;
  return name;
}

bool compares_values(Borrowed left_object, Borrowed right_object, int op) {
  PyObject *left = left_object.get();
  PyObject *right = right_object.get();
  if ((op == Py_EQ || op == Py_NE) && PyUnicode_CheckExact(left) && PyUnicode_CheckExact(right)) {
    const Py_ssize_t length = PyUnicode_GET_LENGTH(left);
    const bool equal = (length == PyUnicode_GET_LENGTH(right) && PyUnicode_KIND(left) == PyUnicode_KIND(right) &&
                        std::memcmp(PyUnicode_DATA(left), PyUnicode_DATA(right),
                                    static_cast<std::size_t>(length) * PyUnicode_KIND(left)) == 0);
    return equal == (op == Py_EQ);
  }
  return check(PyObject_RichCompareBool(left, right, op)) != 0;
}

IndexValue index_value(Borrowed integer) {
  int overflow = 0;
  const std::int64_t value = check_value(PyLong_AsLongLongAndOverflow(integer, &overflow));
  if (overflow) return {0, overflow};
  if (value > PY_SSIZE_T_MAX) return {0, 1};
  if (value < PY_SSIZE_T_MIN) return {0, -1};
  return {static_cast<Py_ssize_t>(value), 0};
}

Py_ssize_t clamped_int(Borrowed integer, Py_ssize_t low, Py_ssize_t high) {
  int overflow = 0;
  const std::int64_t value = check_value(PyLong_AsLongLongAndOverflow(integer, &overflow));
  if (overflow < 0 || (!overflow && value <= low)) return low;
  if (overflow > 0 || value >= high) return high;
  return static_cast<Py_ssize_t>(value);
}

void raise_join_item_error(Py_ssize_t index, PyTypeObject *type) {
  raise(PyExc_TypeError, "sequence item %zd: expected str instance, %.80s found", index, type->tp_name);
}

Ref dict_lookup(Borrowed dict, Borrowed key) {
  PyObject *value = nullptr;
  if (check(PyDict_GetItemRef(dict, key, &value)) == 0) return none();
  return Ref::steal(value);
}

Ref get(Borrowed mapping, Borrowed key) {
  if (PyDict_CheckExact(mapping)) return dict_lookup(mapping, key);
  return owned(PyObject_CallMethodOneArg(mapping, py_str<"get">(), key));
}

Ref expect_result(Ref value, PyTypeObject *type) {
  if (value.get() != Py_None && Py_TYPE(value.get()) != type)
    raise(PyExc_TypeError, "Expected %s, got %.200s", type->tp_name, type_name(value.get()));
  return value;
}

}  // namespace tavrin
