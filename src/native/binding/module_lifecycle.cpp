#include "binding/module_lifecycle.hpp"

#include "binding/objects.hpp"

namespace tavrin {
namespace {

// module.<to> = import_spec.<from>, skipping what import_spec lacks.
void copy_spec_attribute(PyObject *import_spec, PyObject *module_dict, const char *from, const char *to,
                         bool allow_none) {
  PyObject *value = nullptr;
  if (check(PyObject_GetOptionalAttrString(import_spec, from, &value)) == 0) return;
  Ref held = Ref::steal(value);
  if (allow_none || value != Py_None) check(PyDict_SetItemString(module_dict, to, value));
}

void warn_on_version_mismatch(const char *full_name) {
  const int major = static_cast<int>((Py_Version >> 24) & 0xFF);
  const int minor = static_cast<int>((Py_Version >> 16) & 0xFF);
  if (major == PY_MAJOR_VERSION && minor == PY_MINOR_VERSION) return;
  char message[200];
  PyOS_snprintf(message, sizeof message,
                "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d", PY_MAJOR_VERSION,
                PY_MINOR_VERSION, full_name, "does not match", major, minor);
  check(PyErr_WarnEx(PyExc_RuntimeWarning, message, 1));
}

// Returns whether the module had to enter itself (no importer had done so).
bool enter_sys_modules(PyObject *module, const char *full_name) {
  PyObject *modules = PyImport_GetModuleDict();
  PyObject *existing = nullptr;
  if (check(PyDict_GetItemStringRef(modules, full_name, &existing)) != 0) {
    Py_DECREF(existing);
    return false;
  }
  check(PyDict_SetItemString(modules, full_name, module));
  return true;
}

// Takes back the entry of a module whose body failed, so that a later import
// finds nothing and starts again, as the import system does for its own entry.
// The body's exception stays the one reported.
void leave_sys_modules(PyObject *module, const char *full_name) noexcept {
  PyObject *pending = PyErr_GetRaisedException();
  PyObject *modules = PyImport_GetModuleDict();
  PyObject *current = nullptr;
  if (PyDict_GetItemStringRef(modules, full_name, &current) > 0 && current == module)
    PyDict_DelItemString(modules, full_name);
  Py_XDECREF(current);
  PyErr_Clear();
  PyErr_SetRaisedException(pending);
}

}  // namespace

void ModuleLifecycle::refuse_other_interpreters() {
  const PY_INT64_T current = PyInterpreterState_GetID(PyInterpreterState_Get());
  if (current == -1) throw_error();
  if (interpreter_id_ == -1) {
    interpreter_id_ = current;
  } else if (interpreter_id_ != current) {
    raise(PyExc_ImportError,
          "Interpreter change detected - this module can only be loaded into one interpreter per process.");
  }
}

Ref ModuleLifecycle::new_module(PyObject *import_spec) {
  Ref name = owned(PyObject_GetAttrString(import_spec, "name"));
  Ref module = owned(PyModule_NewObject(name.get()));
  PyObject *dict = PyModule_GetDict(module.get());
  copy_spec_attribute(import_spec, dict, "loader", "__loader__", true);
  copy_spec_attribute(import_spec, dict, "origin", "__file__", true);
  copy_spec_attribute(import_spec, dict, "parent", "__package__", true);
  copy_spec_attribute(import_spec, dict, "submodule_search_locations", "__path__", false);
  return module;
}

PyObject *ModuleLifecycle::create(PyObject *import_spec) noexcept {
  return boundary([&] {
    refuse_other_interpreters();
    if (module_) return Ref::new_reference(module_);
    return new_module(import_spec);
  });
}

void ModuleLifecycle::run_body(PyObject *module) {
  warn_on_version_mismatch(info_.full_name);
  const bool entered = enter_sys_modules(module, info_.full_name);
  try {
    info_.body(module);
  } catch (...) {
    if (entered) leave_sys_modules(module, info_.full_name);
    throw;
  }
}

int ModuleLifecycle::exec(PyObject *module) noexcept {
  if (module_) {
    if (module_ == module) return 0;
    PyErr_Format(PyExc_RuntimeError, "Module '%s' has already been imported. Re-initialisation is not supported.",
                 info_.short_name);
    return -1;
  }
  module_ = Py_NewRef(module);
  int status = status_boundary([&] { run_body(module); });
  if (status < 0) Py_CLEAR(module_);
  return status;
}

}  // namespace tavrin
