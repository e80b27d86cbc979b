// Sixteen characters at a time, for the scans over long texts. Characters are
// read as one byte each. Where the build has no vector scans
// (`#if TAVRIN_VECTOR_SCANS` around each use), callers read one by one.
#pragma once

#include "binding/platform.hpp"

#if TAVRIN_VECTOR_SCANS
#include <emmintrin.h>

namespace tavrin::simd {

using platform::lowest_set_bit;

// Sixteen characters from `chars` as one byte each. A character above 0xFF
// becomes 0xFF (or 0, from 0x8000): either way a byte that matches no ASCII
// test below.
template <typename Char>
__m128i sixteen_bytes(const Char *chars) {
  static_assert(sizeof(Char) <= 2, "four-byte text is read one by one");
  const auto *blocks = reinterpret_cast<const __m128i *>(chars);
  if constexpr (sizeof(Char) == 1) {
    return _mm_loadu_si128(blocks);
  } else {
    return _mm_packus_epi16(_mm_loadu_si128(blocks), _mm_loadu_si128(blocks + 1));
  }
}

// One bit per byte in 0x20..0x7F: c - 0x20 (wrapping) at most 0x5F.
inline unsigned plain_bits(__m128i bytes) {
  const __m128i beyond = _mm_subs_epu8(_mm_sub_epi8(bytes, _mm_set1_epi8(0x20)), _mm_set1_epi8(0x5F));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(beyond, _mm_setzero_si128())));
}

// One bit per character above U+3000 among sixteen two-byte characters: the
// CJK text of a report, none of which is whitespace or breaks a line.
inline unsigned above_3000_bits(const Py_UCS2 *chars) {
  const auto *blocks = reinterpret_cast<const __m128i *>(chars);
  const __m128i limit = _mm_set1_epi16(0x3000);
  const __m128i zero = _mm_setzero_si128();
  // c - 0x3000, saturating at 0, is 0 exactly when c is at most 0x3000.
  const __m128i first = _mm_cmpeq_epi16(_mm_subs_epu16(_mm_loadu_si128(blocks), limit), zero);
  const __m128i second = _mm_cmpeq_epi16(_mm_subs_epu16(_mm_loadu_si128(blocks + 1), limit), zero);
  return ~static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(first, second))) & 0xFFFF;
}

// One bit per byte below `limit` (at most 0x80), the byte read as unsigned.
inline unsigned bits_below(__m128i bytes, char limit) {
  const __m128i beyond = _mm_subs_epu8(bytes, _mm_set1_epi8(static_cast<char>(limit - 1)));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(beyond, _mm_setzero_si128())));
}

// One bit per byte equal to `ch`.
inline unsigned bits_equal(__m128i bytes, char ch) {
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(ch))));
}

}  // namespace tavrin::simd

#endif
