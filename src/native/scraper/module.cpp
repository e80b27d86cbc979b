// The module tavrin.amazon.scraper keeps the toolkit's older import path
// working: executing it re-exports AmazonScraper from its newer home, so both
// paths hand out the very same class object.
#include "binding/imports.hpp"
#include "binding/module_lifecycle.hpp"
#include "binding/objects.hpp"

namespace scraper {
namespace {

using namespace tavrin;

constexpr const char *kModuleName = "tavrin.amazon.scraper";
constexpr const char *kTargetModule = "tavrin.amazon.scraping.scraper";
constexpr const char *kClassName = "AmazonScraper";

void execute(PyObject *module) {
  PyObject *globals = PyModule_GetDict(module);
  Ref cls = import_from(kTargetModule, kClassName, globals);
  check(PyDict_SetItemString(globals, kClassName, cls.get()));

  // A star import must bind the class and nothing else.
  Ref exported = new_list(1);
  PyList_SET_ITEM(exported.get(), 0, owned(PyUnicode_InternFromString(kClassName)).release());
  check(PyDict_SetItemString(globals, "__all__", exported.get()));
}

ModuleLifecycle lifecycle({kModuleName, "scraper", "amazon scraper 兼容导出。", execute});

}  // namespace
}  // namespace scraper

PyMODINIT_FUNC PyInit_scraper() { return tavrin::module_definition<scraper::lifecycle>(); }
