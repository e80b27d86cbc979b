// The method objects of our classes: a small function type that binds to
// instances like a Python function, is called through vectorcall, checks its
// arguments against its signature and carries a function's metadata.
#pragma once

#include "binding/signature.hpp"

namespace tavrin {

// The C++ body of a method: `params` are the validated arguments after self.
using MethodBody = Ref (*)(PyObject *self, PyObject *const *params);

struct MethodDef {
  Signature signature;
  const char *returns;  // return annotation text
  const char *doc;
  MethodBody body;
};

// A new method object for `def`, qualified as "<class_name>.<name>" and
// belonging to module `module_name`.
Ref make_method(const MethodDef &def, const char *class_name, PyObject *module_name);

// The definition behind `object` when it is one of our method objects.
const MethodDef *method_def_of(PyObject *object);

}  // namespace tavrin
