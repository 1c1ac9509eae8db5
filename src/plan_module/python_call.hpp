// Interpreter calls that return a new reference, or NULL with an exception set, taken
// as an nb::object; the NULL becomes nb::python_error.
#pragma once

#include <utility>

#include <nanobind/nanobind.h>

#include "binding/forced_unwind.hpp"

namespace kestrava::plan_module {

namespace nb = nanobind;

// A call that runs no Python code.
inline nb::object checked(PyObject* result) {
    if (result == nullptr) throw nb::python_error();
    return nb::steal(result);
}

// A call that can run the caller's Python code (__iter__, __index__, a Decimal
// subclass's methods), which can let the lock go and ask for it back.
template <class Call>
nb::object python_call(Call&& call) {
    return checked(parked_on_forced_unwind(std::forward<Call>(call)));
}

}  // namespace kestrava::plan_module
