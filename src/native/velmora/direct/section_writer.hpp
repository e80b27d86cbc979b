// The section writer: one answer's section written straight into the text it
// belongs to (the report, or the step's own str), its sub-sections too where
// their steps are our own.
#pragma once

#include "binding/text.hpp"
#include "velmora/class/self_call.hpp"
#include "velmora/steps/questions.hpp"

namespace velmora {

// Writes what _format_section returns into `out`, for validated arguments
// (the index as the answer's number); a null `question` stands for the
// fallback title of the answer's number.
void write_section(const Self &self, const AnswerNumber &number, tavrin::Borrowed answer, tavrin::Borrowed question,
                   tavrin::TextWriter &out);

}  // namespace velmora
