// Ownership and error signalling over the CPython C API.
//
// Every API call that returns a new reference is wrapped at once in `Ref`
// (through `owned`), so no path can leak it or release it twice. A failed call
// throws `PyErrorSet`, meaning "a Python exception is set"; the boundary where
// Python calls into us (`boundary`) turns it back into NULL or -1.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <new>
#include <stdexcept>
#include <utility>

namespace tavrin {

// The one error signal: the Python error indicator is set.
struct PyErrorSet {};

[[noreturn]] inline void throw_error() { throw PyErrorSet{}; }

// Sets a Python exception and throws.
[[noreturn]] void raise(PyObject *type, const char *format, ...);

class Ref;

// A borrowed reference: someone else keeps the object alive for as long as
// this is used, and it is never released here. Parameters and members take it
// where the reader should see that nothing is owned; whatever must be kept
// beyond that is made a Ref. A temporary Ref cannot become one: it would be
// released before use.
class Borrowed {
 public:
  constexpr Borrowed(PyObject *ptr) noexcept : ptr_(ptr) {}
  Borrowed(const Ref &ref) noexcept;
  Borrowed(Ref &&) = delete;

  PyObject *get() const noexcept { return ptr_; }
  operator PyObject *() const noexcept { return ptr_; }

 private:
  PyObject *ptr_;
};

// An owned (strong) reference; releases it when it goes out of scope.
class Ref {
 public:
  Ref() noexcept = default;
  Ref(const Ref &other) noexcept : ptr_(other.ptr_) { Py_XINCREF(ptr_); }
  Ref(Ref &&other) noexcept : ptr_(other.ptr_) { other.ptr_ = nullptr; }
  ~Ref() { Py_XDECREF(ptr_); }

  Ref &operator=(Ref other) noexcept {
    std::swap(ptr_, other.ptr_);
    return *this;
  }

  // Takes over a new reference that must not be NULL.
  static Ref steal(PyObject *ptr) noexcept { return Ref(ptr); }
  // Makes a new strong reference to an object borrowed from someone else.
  static Ref new_reference(Borrowed object) noexcept {
    Py_XINCREF(object.get());
    return Ref(object.get());
  }

  PyObject *get() const noexcept { return ptr_; }
  PyObject *release() noexcept { return std::exchange(ptr_, nullptr); }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }

 private:
  explicit Ref(PyObject *ptr) noexcept : ptr_(ptr) {}
  PyObject *ptr_ = nullptr;
};

inline Borrowed::Borrowed(const Ref &ref) noexcept : ptr_(ref.get()) {}

// Wraps the result of an API call returning a new reference; NULL means error.
inline Ref owned(PyObject *new_ref) {
  if (!new_ref) throw_error();
  return Ref::steal(new_ref);
}

// Checks an API call returning -1 on error.
inline int check(int status) {
  if (status < 0) throw_error();
  return status;
}

// Checks an API call whose result -1 is a value as well as the error mark:
// it is an error only when an exception is set.
template <class Value>
Value check_value(Value value) {
  if (value == static_cast<Value>(-1) && PyErr_Occurred()) throw_error();
  return value;
}

inline Ref none() { return Ref::new_reference(Py_None); }
inline Ref boolean(bool value) { return Ref::new_reference(value ? Py_True : Py_False); }

// Sets the Python exception for the C++ exception being handled: the error
// signal leaves the one already set, a failed allocation (or a container
// asked to outgrow what it can address) is MemoryError, and anything else,
// which no path is meant to throw, SystemError rather than a crash.
void set_error_for_current_exception() noexcept;

// The entry from Python into C++: runs `body`, converting every C++
// exception into a NULL result with a Python exception set.
template <class Body>
PyObject *boundary(Body &&body) noexcept {
  try {
    return body().release();
  } catch (...) {
    set_error_for_current_exception();
    return nullptr;
  }
}

// As `boundary`, for slots that report failure as -1.
template <class Body>
int status_boundary(Body &&body) noexcept {
  try {
    body();
    return 0;
  } catch (...) {
    set_error_for_current_exception();
    return -1;
  }
}

}  // namespace tavrin
