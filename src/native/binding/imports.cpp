#include "binding/imports.hpp"

#include "binding/objects.hpp"

namespace tavrin {
namespace {

// sys.modules[name], or an empty Ref.
Ref imported_module(PyObject *name) {
  PyObject *module = nullptr;
  check(PyDict_GetItemRef(PyImport_GetModuleDict(), name, &module));
  return Ref::steal(module);
}

// A lookup that raises counts as a missing attribute: the import function
// then runs, and the attribute read after it turns any failure into "cannot
// import name" instead of letting the lookup's own exception escape.
bool has_attribute(PyObject *object, PyObject *name) {
  PyObject *value = nullptr;
  int found = PyObject_GetOptionalAttr(object, name, &value);
  if (found < 0) PyErr_Clear();
  Py_XDECREF(value);
  return found > 0;
}

Ref module_for_from_import(PyObject *module_name, PyObject *name, PyObject *globals) {
  Ref module = imported_module(module_name);
  if (module && has_attribute(module.get(), name)) return module;
  Ref from_list = owned(PyList_New(1));
  PyList_SET_ITEM(from_list.get(), 0, Py_NewRef(name));
  Ref locals = new_dict();
  return owned(PyImport_ImportModuleLevelObject(module_name, globals, locals.get(), from_list.get(), 0));
}

// The submodule "<module.__name__>.<name>" when already imported.
Ref imported_submodule(PyObject *module, PyObject *name) {
  PyObject *module_name = nullptr;
  if (PyObject_GetOptionalAttr(module, py_str<"__name__">(), &module_name) <= 0) return Ref();
  Ref owner = Ref::steal(module_name);
  PyObject *full_name = PyUnicode_FromFormat("%S.%S", owner.get(), name);
  if (!full_name) return Ref();
  Ref full = Ref::steal(full_name);
  PyObject *submodule = nullptr;
  if (PyDict_GetItemRef(PyImport_GetModuleDict(), full.get(), &submodule) <= 0) return Ref();
  return Ref::steal(submodule);
}

}  // namespace

Ref import_module(const char *name) { return owned(PyImport_ImportModule(name)); }

Ref import_from(const char *module_name, const char *name, PyObject *globals) {
  Ref module_name_object = owned(PyUnicode_FromString(module_name));
  Ref name_object = owned(PyUnicode_InternFromString(name));
  Ref module = module_for_from_import(module_name_object.get(), name_object.get(), globals);

  PyObject *value = PyObject_GetAttr(module.get(), name_object.get());
  if (value) return Ref::steal(value);
  Ref found;
  if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
    PyErr_Clear();
    found = imported_submodule(module.get(), name_object.get());
  }
  if (!found) raise(PyExc_ImportError, "cannot import name %S", name_object.get());
  return found;
}

}  // namespace tavrin
