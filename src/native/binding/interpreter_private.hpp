// The interpreter's private and unstable API that the modules use, gathered
// here so that nothing else depends on it. Each function below is exported
// by the Windows python313.dll (it is declared with PyAPI_FUNC in the 3.13
// headers), so the shipped build links against it like any public function.
// 3.14 and 3.15 (as of 3.15.2) declare each of them the same way and mark
// none deprecated; each says which public road there is instead.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tavrin::interpreter {

// What attribute lookup finds for `name` along the type's MRO, before any
// descriptor runs: borrowed, or NULL (no exception is set).
//   _PyType_Lookup: PyAPI_FUNC in cpython/object.h (3.13 to 3.15), beside
//   _PyType_LookupRef, the same lookup returning a new reference. No version
//   up to 3.15 has a public PyType_Lookup; the public road is a walk of
//   tp_mro reading each base's namespace with PyType_GetDict (3.12 on).
inline PyObject *type_lookup(PyTypeObject *type, PyObject *name) { return _PyType_Lookup(type, name); }

// A number that changes whenever the type or one of its bases changes, or 0
// when the type cannot have one (then nothing may be cached for it).
//   PyUnstable_Type_AssignVersionTag: PyAPI_FUNC in cpython/object.h, of the
//   unstable API (fixed within a minor version); tp_version_tag: a field of
//   PyTypeObject meant for the interpreter's method cache. 3.14 and 3.15
//   keep both as they are; no public API offers a type's version.
inline unsigned int type_version(PyTypeObject *type) {
  if (type->tp_version_tag == 0 && !PyUnstable_Type_AssignVersionTag(type)) return 0;
  return type->tp_version_tag;
}

// The slot of the object's instance dict, the dict made first when the
// object keeps its attributes beside it; NULL when it has no such slot.
//   _PyObject_GetDictPtr: PyAPI_FUNC in cpython/object.h (3.13 to 3.15).
//   The public road, from 3.13 on: PyObject_GetOptionalAttr with "__dict__"
//   (which also runs a __dict__ descriptor a class defines).
inline PyObject **instance_dict_slot(PyObject *object) { return _PyObject_GetDictPtr(object); }

}  // namespace tavrin::interpreter
