// Calls between steps, always through `self`: the attribute Python would find
// on the instance (an instance attribute, a subclass override, a replaced
// class entry) is what gets called. No bound method is allocated.
#pragma once

#include <initializer_list>

#include "velmora/steps.hpp"

namespace velmora {

Ref call(PyObject *self, Step step, std::initializer_list<PyObject *> args);

// Would self.<step> resolve to our own method, so that calling the C++ body
// directly is what Python would do?
bool is_own_step(PyObject *self, Step step);
// The same for every one of `steps`.
bool are_own_steps(PyObject *self, std::initializer_list<Step> steps);

// self._format_link_items(raw_items, include_source=...)
Ref call_format_link_items(PyObject *self, PyObject *raw_items, bool include_source);

}  // namespace velmora
