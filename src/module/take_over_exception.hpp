// Taking over the interpreter's current exception as a PythonError. A PanicException
// that comes back this way is an internal failure on its way out again, and resumes as one.
#pragma once

#include "module/python_error.hpp"

namespace kestrava::module {

// Takes over the interpreter's current exception with PyErr_GetRaisedException. None set
// gives SystemError "attempted to fetch exception but none was set". An exception whose
// type is exactly PanicException is resumed: two lines on standard error, the exception
// printed, and InternalFailure thrown with its str, or "Unwrapped panic from Python code".
PythonError take_over_current_exception();

// As take_over_current_exception, but nullopt when no exception is set.
Status take_over_exception_if_set();

}  // namespace kestrava::module
