// The interned attribute names the bindings look up: "__name__", "__all__" and
// "__module__". Each is made on first use and kept for the process.
#pragma once

#include "binding/python_include.hpp"

namespace kestrava {

// Borrowed references that stay valid for the process. Throw InternalFailure
// "Python API call failed" (after printing the interpreter's error) when the string
// cannot be made.
PyObject* interned_name_attribute();    // "__name__"
PyObject* interned_all_attribute();     // "__all__"
PyObject* interned_module_attribute();  // "__module__"

}  // namespace kestrava
