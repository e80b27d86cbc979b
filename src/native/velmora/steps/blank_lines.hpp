// The report's blank-line rules: lines are split as str.splitlines() splits
// them, lose their trailing whitespace, runs of blank lines become one empty
// line, blank lines at the end vanish, and "\n" joins what is left.
#pragma once

#include "binding/text.hpp"
#include "velmora/class/method_table.hpp"

namespace velmora {

// The rules applied to the text `writer` wrote, which nobody else has seen:
// it is rewritten where it lies, since the result is never longer, and only
// from where its line form (which the writer must have followed) says the
// rules change anything. The report driver tidies its own report so when the
// step is our own.
Ref collapsed_in_place(tavrin::TextWriter &writer);

// The step of this file.
Ref collapse_blank_lines(PyObject *self, Args args);

}  // namespace velmora
