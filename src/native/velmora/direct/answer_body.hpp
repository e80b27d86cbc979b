// The answer-body writer: an answer's body lines written straight into its
// sub-section, without the lists and dicts in between, when every step from
// the record to the lines is our own.
#pragma once

#include "velmora/shared/block_lines.hpp"
#include "velmora/steps/sections.hpp"

namespace velmora {

// Can the body be written without the lists and dicts in between: every step
// on the way is our own, and the values are of the types those steps take?
bool writes_directly(const Self &self, const AnswerRecord &record);

// The body lines, as built_body would give them, written into `body`
// (answer_body.cpp makes it for ListSink and HeadedSink).
template <LineSink Sink>
void write_directly(const Self &self, const AnswerRecord &record, BodyWriter<Sink> &body);
extern template void write_directly(const Self &, const AnswerRecord &, BodyWriter<ListSink> &);
extern template void write_directly(const Self &, const AnswerRecord &, BodyWriter<HeadedSink> &);

}  // namespace velmora
