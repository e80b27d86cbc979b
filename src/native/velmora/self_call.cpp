#include "velmora/self_call.hpp"

#include <array>

#include "binding/objects.hpp"
#include "velmora/method_table.hpp"

namespace velmora {
namespace {

using tavrin::owned;

constexpr auto kStepCount = static_cast<std::size_t>(Step::count);

PyObject *step_name(Step step) {
  static const std::array<PyObject *, kStepCount> names = [] {
    std::array<PyObject *, kStepCount> made{};
    for (std::size_t i = 0; i < kStepCount; ++i)
      made[i] = owned(PyUnicode_InternFromString(kMethods[i].signature.name)).release();
    return made;
  }();
  return names[static_cast<std::size_t>(step)];
}

Ref call_method(PyObject *name, PyObject *const *argv, std::size_t count, PyObject *kwnames) {
  const std::size_t positional = count - (kwnames ? static_cast<std::size_t>(PyTuple_GET_SIZE(kwnames)) : 0);
  return owned(PyObject_VectorcallMethod(name, argv, positional, kwnames));
}

}  // namespace

Ref call(PyObject *self, Step step, std::initializer_list<PyObject *> args) {
  std::array<PyObject *, tavrin::kMaxParams + 1> argv{self};
  std::size_t count = 1;
  for (PyObject *arg : args) argv[count++] = arg;
  return call_method(step_name(step), argv.data(), count, nullptr);
}

Ref call_format_link_items(PyObject *self, PyObject *raw_items, bool include_source) {
  static PyObject *const kwnames = owned(Py_BuildValue("(s)", "include_source")).release();
  PyObject *argv[] = {self, raw_items, include_source ? Py_True : Py_False};
  return call_method(step_name(Step::format_link_items), argv, 3, kwnames);
}

}  // namespace velmora
