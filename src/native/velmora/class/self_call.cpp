#include "velmora/class/self_call.hpp"

#include <array>
#include <atomic>
#include <cstdint>

#include "binding/interpreter_private.hpp"
#include "binding/objects.hpp"

namespace velmora {
namespace {

using tavrin::owned;

constexpr auto kStepCount = static_cast<std::size_t>(Step::count);
static_assert(kStepCount <= 32, "the dispatch mask holds one bit per step");

PyObject *step_name(Step step) {
  static std::array<std::atomic<PyObject *>, kStepCount> names{};
  const auto i = static_cast<std::size_t>(step);
  return tavrin::made_once(names[i], [i] { return owned(PyUnicode_InternFromString(kMethods[i].signature.name)); });
}

// Which steps a type still resolves to our own method objects. Attribute
// lookup on the type is what Python would do for an instance of it, as long
// as the type keeps the generic __getattribute__.
StepSet compute_own_steps(PyTypeObject *type) {
  if (type->tp_getattro != PyObject_GenericGetAttr) return 0;
  StepSet own = 0;
  for (std::size_t i = 0; i < kStepCount; ++i) {
    const auto step = static_cast<Step>(i);
    const Ref found = tavrin::interpreter::type_lookup(type, step_name(step));
    if (found && tavrin::method_def_of(found.get()) == &kMethods[i]) own |= step_bit(step);
  }
  return own;
}

// The per-type dispatch decision, cached under the type's version tag: the
// interpreter gives a type a new tag whenever it or a base class changes.
struct DispatchEntry {
  PyTypeObject *type = nullptr;
  unsigned int version = 0;
  StepSet own = 0;
};
using DispatchCache = std::array<DispatchEntry, 16>;

StepSet own_steps(PyTypeObject *type) {
  DispatchCache &cache = tavrin::cache_of_this_thread<DispatchCache>();
  const unsigned int version = tavrin::interpreter::type_version(type);
  if (version == 0) return compute_own_steps(type);
  DispatchEntry &entry = cache[(reinterpret_cast<std::uintptr_t>(type) >> 4) % cache.size()];
  if (entry.type != type || entry.version != version) entry = {type, version, compute_own_steps(type)};
  return entry.own;
}

// Does an entry of the instance dict (which wins over a method of the same
// name) take any of `steps`?
bool shadows_any(const Ref &dict, StepSet steps) {
  if (!dict || PyDict_GET_SIZE(dict.get()) == 0) return false;
  for (std::size_t i = 0; i < kStepCount; ++i) {
    const auto step = static_cast<Step>(i);
    if ((steps & step_bit(step)) && tavrin::check(PyDict_Contains(dict.get(), step_name(step)))) return true;
  }
  return false;
}

// The step's C++ body, called as its method object would call it: arguments
// that validation would leave as they are go straight in.
Ref call_directly(PyObject *self, Step step, std::span<PyObject *const> params) {
  const tavrin::MethodDef &def = method_def(step);
  if (already_valid(def.signature, params)) return def.body(self, params.data());
  return run_own_step(self, step, params, [&](Args valid) { return def.body(self, valid); });
}

Ref call_through_lookup(PyObject *self, Step step, std::span<PyObject *const> params, PyObject *kwnames) {
  std::array<PyObject *, tavrin::kMaxParams + 1> argv{self};
  for (std::size_t i = 0; i < params.size(); ++i) argv[i + 1] = params[i];
  const std::size_t keywords = kwnames ? static_cast<std::size_t>(PyTuple_GET_SIZE(kwnames)) : 0;
  return owned(PyObject_VectorcallMethod(step_name(step), argv.data(), params.size() + 1 - keywords, kwnames));
}

Ref dispatch(const Self &self, Step step, std::span<PyObject *const> params, PyObject *kwnames) {
  if (self.resolves_to_own(step)) return call_directly(self.object(), step, params);
  return call_through_lookup(self.object(), step, params, kwnames);
}

}  // namespace

// The interpreter's own lookup of the slot moves attributes kept beside the
// object into the dict, so from then on the dict holds all of them.
Self::InstanceDict::InstanceDict(PyObject *object) : object_(object) {
  const PyTypeObject *type = Py_TYPE(object);
  kept_ = (type->tp_flags & Py_TPFLAGS_MANAGED_DICT) || type->tp_dictoffset != 0;
  if (kept_) slot_ = tavrin::interpreter::instance_dict_slot(object);
}

Ref Self::InstanceDict::get() const {
  // Another thread may replace the dict (`obj.__dict__ = ...`) and free the
  // old one while it is read through the slot.
  if constexpr (tavrin::kFreeThreaded) return kept_ ? owned(PyObject_GenericGetDict(object_, nullptr)) : Ref();
  return slot_ ? Ref::new_reference(*slot_) : Ref();
}

Self::Self(PyObject *object) : object_(object), type_(Py_TYPE(object)), dict_(object) {
  version_ = tavrin::interpreter::type_version(type_);
  own_ = own_steps(type_);
  trusted_ = version_ != 0 && !dict_.has_entries();
}

bool Self::resolves_to_own_afresh(StepSet steps) const {
  if ((own_steps(type_) & steps) != steps) return false;
  return !shadows_any(dict_.get(), steps);
}

Ref call(const Self &self, Step step, std::initializer_list<PyObject *> args) {
  return dispatch(self, step, std::span<PyObject *const>(args.begin(), args.size()), nullptr);
}

Ref call_format_link_items(const Self &self, PyObject *raw_items, bool include_source) {
  static std::atomic<PyObject *> kwnames_slot{nullptr};
  PyObject *kwnames = tavrin::made_once(kwnames_slot, [] { return owned(Py_BuildValue("(s)", "include_source")); });
  PyObject *const params[] = {raw_items, include_source ? Py_True : Py_False};
  return dispatch(self, Step::format_link_items, params, kwnames);
}

}  // namespace velmora
