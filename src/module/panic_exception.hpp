// PanicException: the exception class through which an internal failure reaches Python.
// It derives from BaseException, so a plain `except Exception` does not catch it, and it
// is not an attribute of the module.
#pragma once

#include "binding/python_include.hpp"

namespace kestrava::module {

// The class, created on first use and kept for the process. NULL, with the
// interpreter's error (MemoryError) set, when it cannot be made; a later call tries again.
PyObject* panic_exception_type() noexcept;

// The class when it has been made already, else NULL. Never creates it.
PyObject* panic_exception_type_if_made() noexcept;

}  // namespace kestrava::module
