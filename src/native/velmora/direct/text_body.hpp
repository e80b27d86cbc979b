// Answer text rendered straight into body lines, for when every step between
// the text and its lines is our own: the same parse, conversion, assembly and
// rendering as those steps, without the lists and dicts nobody could see.
#pragma once

#include "velmora/shared/block_lines.hpp"

namespace velmora {

// The body lines of a non-empty, stripped answer text without usable blocks
// (text_body.cpp makes it for ListSink and HeadedSink).
template <LineSink Sink>
void write_text_body(Borrowed text, BodyWriter<Sink> &body);
extern template void write_text_body(Borrowed, BodyWriter<ListSink> &);
extern template void write_text_body(Borrowed, BodyWriter<HeadedSink> &);

}  // namespace velmora
