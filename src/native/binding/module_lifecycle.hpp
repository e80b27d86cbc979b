// Multi-phase initialisation shared by our extension modules.
//
// Each module is created and executed once per process, in one interpreter:
//  - create refuses a second interpreter and hands back the existing module
//    object, so removing the module from sys.modules and importing it again
//    gives the same object;
//  - exec runs the module body once; running it again for the same object does
//    nothing, for another object it fails; a failed body forgets the module so
//    that a later import starts afresh.
#pragma once

#include "binding/ref.hpp"

namespace tavrin {

struct ModuleInfo {
  const char *full_name;   // dotted name, e.g. "tavrin.amazon.scraper"
  const char *short_name;  // the name in the module definition
  const char *doc;
  void (*body)(PyObject *module);
};

class ModuleLifecycle {
 public:
  explicit constexpr ModuleLifecycle(ModuleInfo module) : info_(module) {}

  PyObject *create(PyObject *import_spec) noexcept;
  int exec(PyObject *module) noexcept;
  const ModuleInfo &info() const { return info_; }

 private:
  void refuse_other_interpreters();
  Ref new_module(PyObject *import_spec);
  void run_body(PyObject *module);

  ModuleInfo info_;
  PyObject *module_ = nullptr;
  PY_INT64_T interpreter_id_ = -1;
};

template <ModuleLifecycle &lifecycle>
PyObject *create_slot(PyObject *import_spec, PyModuleDef *) {
  return lifecycle.create(import_spec);
}

template <ModuleLifecycle &lifecycle>
int exec_slot(PyObject *module) {
  return lifecycle.exec(module);
}

// The slots of a module definition run by `lifecycle`.
template <ModuleLifecycle &lifecycle>
inline PyModuleDef_Slot module_slots[] = {
    {Py_mod_create, reinterpret_cast<void *>(&create_slot<lifecycle>)},
    {Py_mod_exec, reinterpret_cast<void *>(&exec_slot<lifecycle>)},
    // The create step refuses every interpreter but the first itself, with its
    // own message; the interpreter's coarser check would pre-empt it.
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
    // Safe without the GIL on the free-threaded build; other builds ignore it.
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
    {0, nullptr},
};

// The module's PyInit_<name> result: its definition for multi-phase
// initialisation, run by `lifecycle`.
template <ModuleLifecycle &lifecycle>
PyObject *module_definition() {
  static PyModuleDef definition = {
      PyModuleDef_HEAD_INIT,
      lifecycle.info().short_name,
      lifecycle.info().doc,
      0,
      nullptr,
      module_slots<lifecycle>,
      nullptr,
      nullptr,
      nullptr,
  };
  return PyModuleDef_Init(&definition);
}

}  // namespace tavrin
