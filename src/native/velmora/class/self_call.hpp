// Calls between steps, always through `self`: the attribute Python would find
// on the instance (an instance attribute, a subclass override, a replaced
// class entry) is what gets called. No bound method is allocated.
#pragma once

#include <initializer_list>
#include <span>

#include "binding/signature.hpp"
#include "velmora/class/method_table.hpp"
#include "velmora/class/step_sets.hpp"

namespace velmora {

Ref call(PyObject *self, Step step, std::initializer_list<PyObject *> args);

// Would self.<step> resolve to our own method, for each of `steps`, so that
// calling the C++ body directly is what Python would do?
bool resolve_to_own(PyObject *self, StepSet steps);
inline bool is_own_step(PyObject *self, Step step) { return resolve_to_own(self, step_bit(step)); }

// While a report is made, the instance stays alive: what finding its steps
// needs of it (where its instance dict lives) is looked up once, for the
// first report under way; the answer still follows every change to the
// class or to the instance's attributes.
class ReportInstance {
 public:
  explicit ReportInstance(PyObject *self);
  ~ReportInstance();
  ReportInstance(const ReportInstance &) = delete;
  ReportInstance &operator=(const ReportInstance &) = delete;

 private:
  bool installed_ = false;
};

// Runs our own `step` as its method object would, its arguments validated
// first; `body` takes the valid parameters. For callers that know the step
// is our own and want its work done their way (written into their output).
template <class Body>
decltype(auto) run_own_step(PyObject *self, Step step, std::span<PyObject *const> args, Body &&body) {
  tavrin::Arguments arguments;
  arguments.bind_in_order(self, args);
  arguments.validate(method_def(step).signature);
  return body(arguments.params());
}
template <class Body>
decltype(auto) run_own_step(PyObject *self, Step step, std::initializer_list<PyObject *> args, Body &&body) {
  return run_own_step(self, step, std::span<PyObject *const>(args.begin(), args.size()), body);
}

// self._format_link_items(raw_items, include_source=...)
Ref call_format_link_items(PyObject *self, PyObject *raw_items, bool include_source);

}  // namespace velmora
