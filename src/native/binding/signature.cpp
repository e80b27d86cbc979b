#include "binding/signature.hpp"

#include "binding/objects.hpp"

namespace tavrin {
namespace {

const char *param_name(const Signature &signature, std::size_t position) {
  return position == 0 ? "self" : signature.params[position - 1].name;
}

bool param_keyword_only(const Signature &signature, std::size_t position) {
  return position != 0 && signature.params[position - 1].keyword_only;
}

bool name_equals(PyObject *keyword, const char *name) {
  return PyUnicode_Check(keyword) && PyUnicode_CompareWithASCIIString(keyword, name) == 0;
}

[[noreturn]] void raise_count(const Signature &signature, Py_ssize_t expected, Py_ssize_t given) {
  raise(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)", signature.name, "exactly",
        expected, expected == 1 ? "" : "s", given);
}

[[noreturn]] void raise_incorrect_type(const char *param, const char *expected, PyObject *value) {
  raise(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)", param, expected,
        type_name(value));
}

// The value passed under keyword `name`, or NULL.
PyObject *find_keyword(PyObject *kwnames, PyObject *const *kwvalues, const char *name) {
  Py_ssize_t count = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t i = 0; i < count; ++i)
    if (name_equals(PyTuple_GET_ITEM(kwnames, i), name)) return kwvalues[i];
  return nullptr;
}

// Raises for the first keyword that binds to nothing new.
[[noreturn]] void raise_bad_keyword(const Signature &signature, std::size_t positional_given, PyObject *kwnames) {
  const std::size_t total = signature.params.size() + 1;
  for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(kwnames); ++i) {
    PyObject *keyword = PyTuple_GET_ITEM(kwnames, i);
    if (!PyUnicode_Check(keyword)) raise(PyExc_TypeError, "%.200s() keywords must be strings", signature.name);
    std::size_t position = 0;
    while (position < total && !name_equals(keyword, param_name(signature, position))) ++position;
    if (position == total)
      raise(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", signature.name, keyword);
    if (position < positional_given)
      raise(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", signature.name, keyword);
  }
  raise(PyExc_SystemError, "%s(): unmatched keyword arguments", signature.name);
}

Ref to_int(const char *param, PyObject *value) {
  PyNumberMethods *number = Py_TYPE(value)->tp_as_number;
  bool is_number = PyComplex_Check(value) || (number && (number->nb_int || number->nb_index || number->nb_float));
  if (!is_number) raise_incorrect_type(param, "int", value);
  return owned(PyNumber_Long(value));
}

PyTypeObject *exact_type_for(Expect expect) {
  switch (expect) {
    case Expect::Dict:
      return &PyDict_Type;
    case Expect::Str:
      return &PyUnicode_Type;
    case Expect::List:
      return &PyList_Type;
    default:
      return nullptr;
  }
}

}  // namespace

bool already_valid(const Signature &signature, std::span<PyObject *const> params) {
  for (std::size_t i = 0; i < params.size(); ++i) {
    PyObject *value = params[i];
    switch (signature.params[i].expect) {
      case Expect::Any:
        break;
      case Expect::Int:
        if (!PyLong_CheckExact(value)) return false;
        break;
      case Expect::Truth:
        if (value != Py_True && value != Py_False) return false;
        break;
      default:
        if (Py_TYPE(value) != exact_type_for(signature.params[i].expect)) return false;
    }
  }
  return true;
}

void Arguments::bind(const Signature &signature, PyObject *const *args, size_t nargsf, PyObject *kwnames) {
  const std::size_t total = signature.params.size() + 1;
  std::size_t positional = total;
  while (positional > 1 && param_keyword_only(signature, positional - 1)) --positional;

  const auto given = static_cast<std::size_t>(PyVectorcall_NARGS(nargsf));
  if (given > positional) raise_count(signature, static_cast<Py_ssize_t>(positional), static_cast<Py_ssize_t>(given));
  for (std::size_t i = 0; i < given; ++i) values_[i] = args[i];

  PyObject *const *kwvalues = args + given;
  Py_ssize_t unmatched = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  for (std::size_t i = given; i < total; ++i) {
    PyObject *value = find_keyword(kwnames, kwvalues, param_name(signature, i));
    if (value) {
      values_[i] = value;
      --unmatched;
    } else if (i < positional) {
      raise_count(signature, static_cast<Py_ssize_t>(positional), static_cast<Py_ssize_t>(i));
    }
  }
  if (unmatched > 0) raise_bad_keyword(signature, given, kwnames);
  for (std::size_t i = positional; i < total; ++i)
    if (!values_[i])
      raise(PyExc_TypeError, "%s() needs keyword-only argument %s", signature.name, param_name(signature, i));
}

void Arguments::bind_in_order(PyObject *self, std::span<PyObject *const> params) {
  values_[0] = self;
  for (std::size_t i = 0; i < params.size(); ++i) values_[i + 1] = params[i];
}

void Arguments::validate(const Signature &signature) {
  const std::size_t count = signature.params.size();
  for (std::size_t i = 0; i < count; ++i) {
    const Param &param = signature.params[i];
    PyObject *&value = values_[i + 1];
    if (param.expect != Expect::Int || PyLong_CheckExact(value)) continue;
    held_[i + 1] = to_int(param.name, value);
    value = held_[i + 1].get();
  }
  for (std::size_t i = 0; i < count; ++i) {
    const Param &param = signature.params[i];
    PyObject *&value = values_[i + 1];
    if (PyTypeObject *exact = exact_type_for(param.expect)) {
      if (Py_TYPE(value) != exact) raise_incorrect_type(param.name, exact->tp_name, value);
    } else if (param.expect == Expect::Truth) {
      value = is_true(value) ? Py_True : Py_False;
    }
  }
}

}  // namespace tavrin
