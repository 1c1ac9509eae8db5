// The rules by which a Python object becomes a list, a text, an unsigned count or a
// flag. Each takes one borrowed object and gives the value or the error of the rule
// (before any argument-name prefix, which belongs to the binding).
#pragma once

#include "binding/python_include.hpp"

#include <cstdint>
#include <string_view>

#include "module/python_error.hpp"

namespace kestrava::module {

// A list or an instance of a list subclass, returned borrowed; else TypeError
// "'{type}' object cannot be converted to 'PyList'".
PyOutcome<PyObject*> check_list(PyObject* object);

// The UTF-8 text of a str or str-subclass instance, borrowed from the object (valid
// while it lives); else TypeError "'{type}' object cannot be converted to 'PyString'".
// A str that cannot be encoded gives the interpreter's UnicodeEncodeError unchanged.
PyOutcome<std::string_view> extract_text(PyObject* object);

// An int (or subclass) read as unsigned 64-bit; any other object through its __index__.
// Negative or too large values give the interpreter's OverflowError; 2^64 - 1 is accepted.
PyOutcome<std::uint64_t> extract_unsigned(PyObject* object);

// Exactly a bool, or a numpy boolean recognised by its type's names and read through
// its truth slot; else TypeError "'{type}' object cannot be converted to 'PyBool'".
PyOutcome<bool> extract_flag(PyObject* object);

}  // namespace kestrava::module
