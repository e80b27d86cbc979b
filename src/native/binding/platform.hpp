// Everything that differs between the compilers and systems we build for is
// decided here, and only here: GCC and Clang on Linux and macOS, MSVC and
// MinGW on Windows; 64- and 32-bit x86 and other processors.
//
// Other files test only the TAVRIN_ macros below, never a compiler's own.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

// TAVRIN_VECTOR_SCANS: the character scans read 16 characters at a time with
// SSE2. GCC and Clang say so with __SSE2__; MSVC always has it on x64 and
// says so on 32-bit x86 with _M_IX86_FP (2 under /arch:SSE2, its default).
// A build for the scalar scans (CMake's TAVRIN_SCALAR) leaves them out.
#if defined(TAVRIN_SCALAR) && TAVRIN_SCALAR
#define TAVRIN_VECTOR_SCANS 0
#elif defined(__SSE2__) || defined(_M_X64) || defined(_M_AMD64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define TAVRIN_VECTOR_SCANS 1
#else
#define TAVRIN_VECTOR_SCANS 0
#endif

// TAVRIN_INLINE: a small function that must be inlined where a compiler's
// own judgement leaves a call (one per piece in the loops over many pieces).
#if defined(_MSC_VER)
#define TAVRIN_INLINE __forceinline
#elif defined(__GNUC__) || defined(__clang__)
#define TAVRIN_INLINE inline __attribute__((always_inline))
#else
#define TAVRIN_INLINE inline
#endif

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#elif defined(__unix__) || defined(__APPLE__)
#include <pthread.h>
#endif

#if defined(_MSC_VER)
#include <intrin.h>
#endif

namespace tavrin::platform {

// The position of the lowest set bit of a non-zero mask.
inline int lowest_set_bit(std::uint32_t bits) { return std::countr_zero(bits); }

// The address range of the running thread's stack; {0, 0} where the system
// cannot tell. Every target's stack grows downwards, towards `low`.
struct StackBounds {
  std::uintptr_t low = 0;
  std::uintptr_t high = 0;
};

inline StackBounds current_thread_stack() {
#if defined(_WIN32)
  ULONG_PTR low = 0;
  ULONG_PTR high = 0;
  GetCurrentThreadStackLimits(&low, &high);
  return {static_cast<std::uintptr_t>(low), static_cast<std::uintptr_t>(high)};
#elif defined(__APPLE__)
  pthread_t self = pthread_self();
  const auto high = reinterpret_cast<std::uintptr_t>(pthread_get_stackaddr_np(self));
  return {high - pthread_get_stacksize_np(self), high};
#elif defined(__linux__)
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return {};
  void *low = nullptr;
  std::size_t size = 0;
  const int status = pthread_attr_getstack(&attributes, &low, &size);
  pthread_attr_destroy(&attributes);
  if (status != 0) return {};
  const auto begin = reinterpret_cast<std::uintptr_t>(low);
  return {begin, begin + size};
#else
  return {};
#endif
}

// An address inside the caller's stack frame.
inline std::uintptr_t current_stack_address() {
#if defined(_MSC_VER)
  return reinterpret_cast<std::uintptr_t>(_AddressOfReturnAddress());
#else
  // The frame itself, even where a sanitizer keeps local variables elsewhere.
  return reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
#endif
}

}  // namespace tavrin::platform
