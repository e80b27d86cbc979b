// Import statements as module bodies run them.
#pragma once

#include "binding/ref.hpp"

namespace tavrin {

// `import name` (absolute).
Ref import_module(const char *name);

// `from module_name import name` (absolute), evaluated with `globals`: a module
// already in sys.modules that has the attribute is used without importing;
// a missing attribute falls back to an imported submodule of that name, and
// otherwise raises ImportError "cannot import name ...".
Ref import_from(const char *module_name, const char *name, PyObject *globals);

}  // namespace tavrin
