// Answer text split into lines where "\r\n", "\r" or "\n" ends them: the only
// breaks the text parse knows (other line separators stay inside a line).
#pragma once

#include <vector>

#include "binding/text.hpp"

namespace velmora {

// The lines of `text`, an exact str, as spans; a final break ends the text
// with an empty line, and an empty text is one empty line.
std::vector<tavrin::Span> split_lines(PyObject *text);

}  // namespace velmora
