// What a binding does with an interpreter error that it does not pass on: drop it, or
// give up on the call as an internal failure.
#pragma once

#include <source_location>

namespace kestrava {

// Takes the current exception out of the interpreter and discards it (nothing when none
// is set). For failures that are ignored on purpose: a name that cannot be read, a
// keyword that cannot be encoded.
void drop_current_exception() noexcept;

// Prints the interpreter's current exception with PyErr_Print and throws the
// InternalFailure "Python API call failed": for interpreter calls whose failure
// cannot be reported any other way (out of memory while building a result).
[[noreturn]] void fail_python_api_call(std::source_location where = std::source_location::current());

}  // namespace kestrava
