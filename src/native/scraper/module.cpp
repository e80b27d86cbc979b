// Placeholder until the compatibility module is built.
#include "binding/module_lifecycle.hpp"
PyMODINIT_FUNC PyInit_scraper() { return nullptr; }
