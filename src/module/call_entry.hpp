// The call entry of get_cheapest_periods: the function the interpreter calls, with the
// fast-call-with-keywords signature.
#pragma once

#include "binding/python_include.hpp"

namespace kestrava::module {

// Binds and converts the arguments, runs the selection and returns the chosen period
// indices as a new list of ints, or NULL with an exception set. `self` (the module) is
// not used.
PyObject* get_cheapest_periods_entry(PyObject* self, PyObject* const* arguments, Py_ssize_t positional_count,
                                     PyObject* keyword_names) noexcept;

}  // namespace kestrava::module
