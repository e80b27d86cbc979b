#include "binding/reentry.hpp"

#include <algorithm>
#include <cstdint>

#include "binding/platform.hpp"

namespace tavrin {
namespace {

// Room left free below the frame of a call we let start: one more level of
// re-entry (our frames, the interpreter's, the payload's own Python code)
// takes a few KB, and raising the error and unwinding take less. A quarter of
// a smaller stack, so that a thread with a small stack still runs a report.
constexpr std::uintptr_t kStackMargin = 8192 * sizeof(void *);

struct ThreadStack {
  std::uintptr_t low = 0;
  std::uintptr_t high = 0;
  std::uintptr_t limit = 0;  // below this, no call starts
  bool known = false;
};

// Asking the system is slow (for the main thread it reads the process's
// memory map), so each thread asks once.
thread_local ThreadStack this_thread_stack;

const ThreadStack &thread_stack() {
  ThreadStack &stack = this_thread_stack;
  if (!stack.known) {
    const platform::StackBounds bounds = platform::current_thread_stack();
    stack.low = bounds.low;
    stack.high = bounds.high;
    stack.limit = bounds.low + std::min(kStackMargin, (bounds.high - bounds.low) / 4);
    stack.known = true;
  }
  return stack;
}

bool stack_nearly_used_up() {
  const ThreadStack &stack = thread_stack();
  const std::uintptr_t here = platform::current_stack_address();
  // Outside the bounds lies a stack the system does not know of (a
  // coroutine's own, say): the interpreter's limit alone applies there.
  return here >= stack.low && here < stack.limit;
}

}  // namespace

bool enter_call() {
  if (stack_nearly_used_up()) {
    PyErr_SetString(PyExc_RecursionError,
                    "maximum recursion depth exceeded while calling a Python object (the thread's stack is "
                    "nearly used up)");
    return false;
  }
  return Py_EnterRecursiveCall(" while calling a Python object") == 0;
}

}  // namespace tavrin
