// Calls between steps, always through `self`: the attribute Python would find
// on the instance (an instance attribute, a subclass override, a replaced
// class entry) is what gets called. No bound method is allocated.
#pragma once

#include <initializer_list>
#include <span>

#include "binding/signature.hpp"
#include "velmora/method_table.hpp"

namespace velmora {

Ref call(PyObject *self, Step step, std::initializer_list<PyObject *> args);

// Would self.<step> resolve to our own method, so that calling the C++ body
// directly is what Python would do?
bool is_own_step(PyObject *self, Step step);
// The same for every one of `steps`.
bool are_own_steps(PyObject *self, std::initializer_list<Step> steps);

// Runs our own `step` as its method object would, its arguments checked
// first; `body` takes the checked parameters. For callers that know the step
// is our own and want its work done their way (written into their output).
template <class Body>
decltype(auto) run_own_step(PyObject *self, Step step, std::span<PyObject *const> args, Body &&body) {
  tavrin::Arguments arguments;
  arguments.bind_in_order(self, args);
  arguments.check(method_def(step).signature);
  return body(arguments.params());
}
template <class Body>
decltype(auto) run_own_step(PyObject *self, Step step, std::initializer_list<PyObject *> args, Body &&body) {
  return run_own_step(self, step, std::span<PyObject *const>(args.begin(), args.size()), body);
}

// self._format_link_items(raw_items, include_source=...)
Ref call_format_link_items(PyObject *self, PyObject *raw_items, bool include_source);

}  // namespace velmora
