// The interpreter's private and unstable API that the modules use, gathered
// here so that nothing else depends on it. Each function below is exported
// by the Windows python313.dll (it is declared with PyAPI_FUNC in the 3.13
// headers), so the shipped build links against it like any public function.
// 3.14 and 3.15 (as of 3.15.2) declare each of them the same way and mark
// none deprecated; each says which public road there is instead.
#pragma once

#include <atomic>

#include "binding/free_threading.hpp"
#include "binding/ref.hpp"

namespace tavrin::interpreter {

// What attribute lookup finds for `name` along the type's MRO, before any
// descriptor runs, or an empty Ref (no exception is set). A new reference:
// on the free-threaded build another thread may replace the entry meanwhile.
//   _PyType_LookupRef: PyAPI_FUNC in cpython/object.h (3.13 to 3.15), beside
//   _PyType_Lookup, the same lookup returning a borrowed reference. No version
//   up to 3.15 has a public PyType_Lookup; the public road is a walk of
//   tp_mro reading each base's namespace with PyType_GetDict (3.12 on).
inline Ref type_lookup(PyTypeObject *type, PyObject *name) { return Ref::steal(_PyType_LookupRef(type, name)); }

// A number that changes whenever the type or one of its bases changes, or 0
// when the type cannot have one (then nothing may be cached for it).
//   PyUnstable_Type_AssignVersionTag: PyAPI_FUNC in cpython/object.h, of the
//   unstable API (fixed within a minor version); tp_version_tag: a field of
//   PyTypeObject meant for the interpreter's method cache. 3.14 and 3.15
//   keep both as they are; no public API offers a type's version.
// The type's version as it stands, 0 when it has none now. Other threads
// change it with atomic writes on the free-threaded build.
inline unsigned int current_type_version(PyTypeObject *type) {
  if constexpr (kFreeThreaded)
    return std::atomic_ref<unsigned int>(type->tp_version_tag).load(std::memory_order_relaxed);
  return type->tp_version_tag;
}

inline unsigned int type_version(PyTypeObject *type) {
  if (current_type_version(type) == 0 && !PyUnstable_Type_AssignVersionTag(type)) return 0;
  return current_type_version(type);
}

// The slot of the object's instance dict, the dict made first when the
// object keeps its attributes beside it; NULL when it has no such slot.
//   _PyObject_GetDictPtr: PyAPI_FUNC in cpython/object.h (3.13 to 3.15).
//   The public road, from 3.13 on: PyObject_GetOptionalAttr with "__dict__"
//   (which also runs a __dict__ descriptor a class defines).
inline PyObject **instance_dict_slot(PyObject *object) { return _PyObject_GetDictPtr(object); }

}  // namespace tavrin::interpreter
