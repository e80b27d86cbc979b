// Heading levels, clamped in one place: a display block's level and the
// number of "#" a rendered heading starts with are both Markdown levels.
#pragma once

#include <algorithm>

#include "binding/objects.hpp"

namespace velmora {

// Markdown has headings of 1 to 6 "#".
inline constexpr Py_ssize_t kLowestLevel = 1;
inline constexpr Py_ssize_t kDeepestLevel = 6;

inline Py_ssize_t markdown_level(Py_ssize_t level) { return std::clamp(level, kLowestLevel, kDeepestLevel); }

// The same for an int (or int subclass) plus `offset`, however large the int.
inline Py_ssize_t markdown_level(tavrin::Borrowed level, Py_ssize_t offset) {
  return tavrin::clamped_int(level, kLowestLevel - offset, kDeepestLevel - offset) + offset;
}

// A heading renders two levels below the section's own "##" and "###".
inline constexpr Py_ssize_t kLevelsBelowSection = 2;
inline Py_ssize_t marker_length(Py_ssize_t level) { return markdown_level(level + kLevelsBelowSection); }

}  // namespace velmora
