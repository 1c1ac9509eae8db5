// numpy's bool, known by its type's names, so that numpy is never imported.
#pragma once

#include "binding/python_include.hpp"

namespace kestrava {

// Whether `type` names itself numpy's boolean: its __module__ (read through the interned
// "__module__") is a str whose UTF-8 text is "numpy", and its name (PyType_GetName) is
// "bool_" or "bool", compared by UTF-8 bytes. A failure while reading the names means
// "no" and is dropped. A metaclass's __module__ may run Python code. Throws
// InternalFailure only when the interned name cannot be made.
bool is_numpy_bool_type(PyTypeObject* type);

}  // namespace kestrava
