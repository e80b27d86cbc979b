// Calls from Python into our methods may come back around: a payload's
// __str__, get or __bool__, or an overriding step, can call format_data again.
// However deep that goes, it must end in RecursionError, never in a crash.
#pragma once

#include "binding/ref.hpp"

namespace tavrin {

// Enters one call from Python: it counts towards the interpreter's recursion
// limit, and it is refused once the running thread's stack is nearly used
// up (a small thread stack runs out long before the interpreter's limit).
// False, with RecursionError set, when the call must not go on; otherwise
// leave_call() must follow it.
bool enter_call();
inline void leave_call() { Py_LeaveRecursiveCall(); }

}  // namespace tavrin
