// The module tavrin.amazon_rufus.services.velmora: executing it binds `re`,
// `Any` and the class `Velmora`, made by calling type() with the methods.
//
// format_data has two roads. On the step road every step calls the next ones
// through self, so that any override is honoured. On the direct road, taken
// wherever the steps in question resolve to our own, writers do the work of
// those steps straight into the report, without the lists and dicts that the
// steps would hand each other. The folders follow the roads:
//   class/   the class machinery: the method table, calls through self, and
//            which steps an instance resolves to our own (step_sets.hpp names
//            the steps each direct-road writer stands in for);
//   steps/   the bodies of the 23 steps, one file per group of steps;
//   shared/  engines both roads use (line breaks and the line parse, line
//            matching, grouping and row fitting, heading levels, block lines
//            and line sinks); they never call through self and never include
//            class/;
//   direct/  the direct-road writers: a section, an answer body, a text body.
// A step body picks its road; a direct-road writer is entered only when every
// step of its set in class/step_sets.hpp is our own.
#include "binding/imports.hpp"
#include "binding/module_lifecycle.hpp"
#include "binding/objects.hpp"
#include "velmora/class/method_table.hpp"

namespace velmora {
namespace {

using namespace tavrin;

constexpr const char *kModuleName = "tavrin.amazon_rufus.services.velmora";
constexpr const char *kClassName = "Velmora";

Ref make_class_namespace(PyObject *module_name) {
  Ref ns = new_dict();
  check(PyDict_SetItemString(ns.get(), "__module__", module_name));
  Ref qualname = owned(PyUnicode_FromString(kClassName));
  check(PyDict_SetItemString(ns.get(), "__qualname__", qualname.get()));
  Ref doc = owned(PyUnicode_FromString("将 Rufus 全量结果投影为前端风格的终端报告。"));
  check(PyDict_SetItemString(ns.get(), "__doc__", doc.get()));
  for (const MethodDef &def : kMethods) {
    Ref method = make_method(def, kClassName, module_name);
    check(PyDict_SetItemString(ns.get(), def.signature.name, method.get()));
  }
  return ns;
}

void execute(PyObject *module) {
  PyObject *globals = PyModule_GetDict(module);
  Ref re = import_module("re");
  check(PyDict_SetItemString(globals, "re", re.get()));
  Ref any = import_from("typing", "Any", globals);
  check(PyDict_SetItemString(globals, "Any", any.get()));

  Ref module_name = owned(PyUnicode_FromString(kModuleName));
  Ref ns = make_class_namespace(module_name.get());
  Ref name = owned(PyUnicode_FromString(kClassName));
  Ref bases = owned(PyTuple_New(0));
  Ref cls = owned(PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject *>(&PyType_Type), name.get(), bases.get(),
                                               ns.get(), nullptr));
  check(PyDict_SetItemString(globals, kClassName, cls.get()));
}

ModuleLifecycle lifecycle({kModuleName, "velmora", "Amazon Rufus 答案报告格式化服务。", execute});

}  // namespace
}  // namespace velmora

PyMODINIT_FUNC PyInit_velmora() { return tavrin::module_definition<velmora::lifecycle>(); }
