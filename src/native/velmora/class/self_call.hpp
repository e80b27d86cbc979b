// Calls between steps, always through `self`: the attribute Python would find
// on the instance (an instance attribute, a subclass override, a replaced
// class entry) is what gets called. No bound method is allocated.
#pragma once

#include <initializer_list>
#include <span>

#include "binding/free_threading.hpp"
#include "binding/interpreter_private.hpp"
#include "binding/signature.hpp"
#include "velmora/class/method_table.hpp"
#include "velmora/class/step_sets.hpp"

namespace velmora {

// The instance a step works for, as its steps resolve on it. Which steps
// resolve to our own is found once, and trusted for as long as the class (its
// version tag) has not changed and the instance has no attributes of its own
// (an attribute named like a step would win over the class); otherwise it is
// found again at every question.
class Self {
 public:
  explicit Self(PyObject *object);
  Self(const Self &) = delete;
  Self &operator=(const Self &) = delete;

  PyObject *object() const { return object_; }

  // Would self.<step> resolve to our own method, for each of `steps`, so that
  // calling the C++ body directly is what Python would do?
  bool resolves_to_own(StepSet steps) const {
    if (trusted_ && tavrin::interpreter::current_type_version(type_) == version_ && !dict_.has_entries())
      return (own_ & steps) == steps;
    return resolves_to_own_afresh(steps);
  }
  bool resolves_to_own(Step step) const { return resolves_to_own(step_bit(step)); }

 private:
  // The instance's own __dict__, whose entries win over the class's methods.
  class InstanceDict {
   public:
    explicit InstanceDict(PyObject *object);
    bool has_entries() const {
      if constexpr (tavrin::kFreeThreaded) return kept_ && PyDict_GET_SIZE(get().get()) > 0;
      return slot_ && *slot_ && PyDict_GET_SIZE(*slot_) > 0;
    }
    // A strong reference to the dict, or an empty Ref when the instance has none.
    Ref get() const;

   private:
    PyObject *object_;
    PyObject **slot_ = nullptr;  // where the dict is kept, or nullptr
    bool kept_ = false;          // whether the instance keeps a dict at all
  };

  bool resolves_to_own_afresh(StepSet steps) const;

  PyObject *object_;
  PyTypeObject *type_;
  InstanceDict dict_;
  unsigned int version_ = 0;
  StepSet own_ = 0;
  bool trusted_ = false;
};

Ref call(const Self &self, Step step, std::initializer_list<PyObject *> args);

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
Ref call_format_link_items(const Self &self, PyObject *raw_items, bool include_source);

}  // namespace velmora
