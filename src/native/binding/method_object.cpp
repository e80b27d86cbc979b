#include "binding/method_object.hpp"

#include <cstddef>

#include "binding/objects.hpp"
#include "binding/reentry.hpp"

namespace tavrin {
namespace {

struct MethodObject {
  PyObject_HEAD vectorcallfunc vectorcall;
  const MethodDef *def;
  PyObject *name;
  PyObject *qualname;
  PyObject *doc;
  PyObject *module;
  PyObject *annotations;
  PyObject *dict;
};

MethodObject *as_method(PyObject *object) { return reinterpret_cast<MethodObject *>(object); }

PyObject *method_vectorcall(PyObject *callable, PyObject *const *args, size_t nargsf, PyObject *kwnames) {
  const MethodDef &def = *as_method(callable)->def;
  if (!enter_call()) return nullptr;
  PyObject *result = boundary([&] {
    Arguments arguments;
    arguments.bind(def.signature, args, nargsf, kwnames);
    arguments.validate(def.signature);
    return def.body(arguments.self(), arguments.params());
  });
  leave_call();
  return result;
}

// Binding: instance access gives a bound method, class access the function.
PyObject *method_get(PyObject *self, PyObject *instance, PyObject *) {
  if (!instance || instance == Py_None) return Py_NewRef(self);
  return PyMethod_New(self, instance);
}

PyObject *method_repr(PyObject *self) {
  return PyUnicode_FromFormat("<function %U at %p>", as_method(self)->qualname, self);
}

// Pickled by reference, like a function: the qualified name is looked up.
PyObject *method_reduce(PyObject *self, PyObject *) { return Py_NewRef(as_method(self)->qualname); }

int method_traverse(PyObject *self, visitproc visit, void *arg) {
  MethodObject *method = as_method(self);
  Py_VISIT(method->annotations);
  Py_VISIT(method->dict);
  return 0;
}

int method_clear(PyObject *self) {
  MethodObject *method = as_method(self);
  Py_CLEAR(method->annotations);
  Py_CLEAR(method->dict);
  return 0;
}

void method_dealloc(PyObject *self) {
  MethodObject *method = as_method(self);
  PyObject_GC_UnTrack(self);
  method_clear(self);
  Py_CLEAR(method->name);
  Py_CLEAR(method->qualname);
  Py_CLEAR(method->doc);
  Py_CLEAR(method->module);
  PyObject_GC_Del(self);
}

PyMemberDef method_members[] = {
    {"__name__", Py_T_OBJECT_EX, offsetof(MethodObject, name), Py_READONLY, nullptr},
    {"__qualname__", Py_T_OBJECT_EX, offsetof(MethodObject, qualname), Py_READONLY, nullptr},
    {"__doc__", Py_T_OBJECT_EX, offsetof(MethodObject, doc), Py_READONLY, nullptr},
    {"__module__", Py_T_OBJECT_EX, offsetof(MethodObject, module), Py_READONLY, nullptr},
    {"__annotations__", Py_T_OBJECT_EX, offsetof(MethodObject, annotations), Py_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

Ref make_parameter(PyObject *parameter_class, const char *name, const char *kind, const char *annotation) {
  Ref args = owned(Py_BuildValue("(s)", name));
  Ref kwargs = owned(Py_BuildValue("{s:O}", "kind", owned(PyObject_GetAttrString(parameter_class, kind)).get()));
  if (annotation) {
    Ref text = owned(PyUnicode_FromString(annotation));
    check(PyDict_SetItemString(kwargs.get(), "annotation", text.get()));
  }
  return owned(PyObject_Call(parameter_class, args.get(), kwargs.get()));
}

// inspect.Signature of the method, with the annotation texts, made on demand
// so that inspect.signature() and help() describe it like a function.
Ref make_signature(const MethodDef &def) {
  Ref inspect = owned(PyImport_ImportModule("inspect"));
  Ref parameter_class = owned(PyObject_GetAttrString(inspect.get(), "Parameter"));
  Ref parameters = new_list();
  append(parameters.get(), make_parameter(parameter_class.get(), "self", "POSITIONAL_OR_KEYWORD", nullptr).get());
  for (const Param &param : def.signature.params) {
    const char *kind = param.keyword_only ? "KEYWORD_ONLY" : "POSITIONAL_OR_KEYWORD";
    append(parameters.get(), make_parameter(parameter_class.get(), param.name, kind, param.annotation).get());
  }
  Ref signature_class = owned(PyObject_GetAttrString(inspect.get(), "Signature"));
  Ref returns = owned(PyUnicode_FromString(def.returns));
  Ref args = owned(PyTuple_Pack(1, parameters.get()));
  Ref kwargs = owned(Py_BuildValue("{s:O}", "return_annotation", returns.get()));
  return owned(PyObject_Call(signature_class.get(), args.get(), kwargs.get()));
}

PyObject *method_signature(PyObject *self, void *) {
  return boundary([&] { return make_signature(*as_method(self)->def); });
}

PyGetSetDef method_getset[] = {
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {"__signature__", method_signature, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef method_methods[] = {
    {"__reduce__", method_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyTypeObject method_type = [] {
  PyTypeObject type{PyVarObject_HEAD_INIT(nullptr, 0)};
  type.tp_name = "native_function";
  type.tp_doc = "A method implemented natively, bound to instances like a function.";
  type.tp_basicsize = sizeof(MethodObject);
  type.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL | Py_TPFLAGS_METHOD_DESCRIPTOR;
  type.tp_dealloc = method_dealloc;
  type.tp_vectorcall_offset = offsetof(MethodObject, vectorcall);
  type.tp_call = PyVectorcall_Call;
  type.tp_repr = method_repr;
  type.tp_traverse = method_traverse;
  type.tp_clear = method_clear;
  type.tp_descr_get = method_get;
  type.tp_members = method_members;
  type.tp_getset = method_getset;
  type.tp_methods = method_methods;
  type.tp_dictoffset = offsetof(MethodObject, dict);
  return type;
}();

Ref make_annotations(const MethodDef &def) {
  Ref annotations = new_dict();
  for (const Param &param : def.signature.params) {
    Ref text = owned(PyUnicode_FromString(param.annotation));
    check(PyDict_SetItemString(annotations.get(), param.name, text.get()));
  }
  Ref returns = owned(PyUnicode_FromString(def.returns));
  check(PyDict_SetItemString(annotations.get(), "return", returns.get()));
  return annotations;
}

}  // namespace

Ref make_method(const MethodDef &def, const char *class_name, PyObject *module_name) {
  if (!(method_type.tp_flags & Py_TPFLAGS_READY)) check(PyType_Ready(&method_type));
  Ref name = owned(PyUnicode_InternFromString(def.signature.name));
  Ref qualname = owned(PyUnicode_FromFormat("%s.%s", class_name, def.signature.name));
  Ref doc = owned(PyUnicode_FromString(def.doc));
  Ref annotations = make_annotations(def);

  MethodObject *method = PyObject_GC_New(MethodObject, &method_type);
  if (!method) throw_error();
  method->vectorcall = method_vectorcall;
  method->def = &def;
  method->name = name.release();
  method->qualname = qualname.release();
  method->doc = doc.release();
  method->module = Py_NewRef(module_name);
  method->annotations = annotations.release();
  method->dict = nullptr;
  PyObject_GC_Track(method);
  return Ref::steal(reinterpret_cast<PyObject *>(method));
}

const MethodDef *method_def_of(PyObject *object) {
  return Py_IS_TYPE(object, &method_type) ? as_method(object)->def : nullptr;
}

}  // namespace tavrin
