// The report's blank-line rules: lines are split as str.splitlines() splits
// them, lose their trailing whitespace, runs of blank lines become one empty
// line, blank lines at the end vanish, and "\n" joins what is left.
#pragma once

#include "binding/text.hpp"

namespace velmora {

using tavrin::Ref;

// The rules applied to `text`, into a new str.
Ref collapsed_copy(PyObject *text);

// The same for the text `writer` wrote, which nobody else has seen: it is
// rewritten where it lies, since the result is never longer.
Ref collapsed_in_place(tavrin::TextWriter &writer);

}  // namespace velmora
