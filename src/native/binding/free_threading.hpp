// Reading objects that other threads may change at the same moment.
//
// With the GIL, no other thread runs while we hold it: an item borrowed from
// a list or dict stays alive until we run Python code ourselves. On the
// free-threaded build (Py_GIL_DISABLED) another thread may replace and free
// it at any instant, so items are taken as strong references, walks over a
// container others may share hold its critical section, and objects made once
// per process are published atomically. Everything here is the plain read on
// the default build, which this file is written not to slow down; this is
// the one place that tells the two builds apart.
#pragma once

#include <atomic>

#include "binding/ref.hpp"

namespace tavrin {

#ifdef Py_GIL_DISABLED
inline constexpr bool kFreeThreaded = true;
#else
inline constexpr bool kFreeThreaded = false;
#endif

// Holds `object`'s critical section for its scope on the free-threaded build.
// Python code run inside may suspend it, so nothing inside runs any.
class CriticalSection {
 public:
#ifdef Py_GIL_DISABLED
  explicit CriticalSection(PyObject *object) { PyCriticalSection_Begin(&section_, object); }
  ~CriticalSection() { PyCriticalSection_End(&section_); }
#else
  explicit CriticalSection(PyObject *) {}
#endif
  CriticalSection(const CriticalSection &) = delete;
  CriticalSection &operator=(const CriticalSection &) = delete;

 private:
#ifdef Py_GIL_DISABLED
  PyCriticalSection section_;
#endif
};

// `list[index]` for an exact list and an index the caller has just found in
// range. Where another thread may have shrunk the list since, Python's
// IndexError.
inline Ref list_item(PyObject *list, Py_ssize_t index) {
  if constexpr (kFreeThreaded) return owned(PyList_GetItemRef(list, index));
  return Ref::new_reference(PyList_GET_ITEM(list, index));
}

// As `list_item`, for a walk that ends where the list does: an empty Ref when
// another thread has shrunk the list below `index`.
inline Ref list_item_if_present(PyObject *list, Py_ssize_t index) {
  if constexpr (kFreeThreaded) {
    PyObject *item = PyList_GetItemRef(list, index);
    if (!item) PyErr_Clear();
    return Ref::steal(item);
  }
  return Ref::new_reference(PyList_GET_ITEM(list, index));
}

// A value read out of a container during a walk that holds the container
// still: borrowed where the GIL keeps it alive while no Python code runs, a
// strong reference on the free-threaded build.
class HeldValue {
 public:
  HeldValue() = default;
  HeldValue(const HeldValue &) = delete;
  HeldValue &operator=(const HeldValue &) = delete;
  ~HeldValue() {
    if constexpr (kFreeThreaded) Py_XDECREF(value_);
  }

  void hold(PyObject *value) {
    if constexpr (kFreeThreaded)
      Py_XSETREF(value_, Py_NewRef(value));
    else
      value_ = value;
  }
  PyObject *get() const { return value_; }

 private:
  PyObject *value_ = nullptr;
};

// Does the caller hold the only reference to `object`, so that changing it
// in place is invisible to everyone else? On the free-threaded build the
// count is split between the owning thread's and a shared one, which other
// threads change at will: only an object this thread owns, with one local
// reference and no shared one, is ours alone.
inline bool is_sole_reference(PyObject *object) {
#if !defined(Py_GIL_DISABLED)
  return Py_REFCNT(object) == 1;
#elif PY_VERSION_HEX >= 0x030E0000
  return PyUnstable_Object_IsUniquelyReferenced(object);
#else
  // 3.14's PyUnstable_Object_IsUniquelyReferenced, which 3.13 lacks.
  return _Py_IsOwnedByCurrentThread(object) && _Py_atomic_load_uint32_relaxed(&object->ob_ref_local) == 1 &&
         _Py_atomic_load_ssize_relaxed(&object->ob_ref_shared) == 0;
#endif
}

// A cache that reads also write, zero-initialised: one for the process on
// the default build, one per thread on the free-threaded build (where each
// thread fills its own rather than racing on a shared one). `Cache` names it.
template <class Cache>
Cache &cache_of_this_thread() {
  if constexpr (kFreeThreaded) {
    thread_local Cache cache{};
    return cache;
  } else {
    static Cache cache{};
    return cache;
  }
}

// An object made on first use and kept for the life of the process, held in
// `slot` (a zero-initialised static: no guard that a waiting thread would sit
// on, attached, while the maker runs). When two threads make it at once, one
// object is kept and the other released.
template <class Make>
PyObject *made_once(std::atomic<PyObject *> &slot, Make &&make) {
  if (PyObject *made = slot.load(std::memory_order_acquire)) return made;
  Ref candidate = make();
  PyObject *expected = nullptr;
  if (slot.compare_exchange_strong(expected, candidate.get(), std::memory_order_acq_rel)) return candidate.release();
  return expected;
}

}  // namespace tavrin
