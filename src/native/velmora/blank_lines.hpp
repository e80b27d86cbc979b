// The report's blank-line rules: lines are split as str.splitlines() splits
// them, lose their trailing whitespace, runs of blank lines become one empty
// line, blank lines at the end vanish, and "\n" joins what is left.
#pragma once

#include "binding/ref.hpp"

namespace velmora {

using tavrin::Ref;

// The rules applied to `text`, into a new str.
Ref collapsed_copy(PyObject *text);

// The same for a str nobody else holds (such as one a writer just built): the
// text is rewritten where it lies, since the result is never longer.
Ref collapsed_in_place(Ref text);

}  // namespace velmora
