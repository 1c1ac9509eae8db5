// The interpreter's types that the conversions recognise and that have no C API
// check of their own: decimal.Decimal, the collections.abc classes without an order of
// items (Mapping, Set, MappingView), and numpy's narrow float scalars (known by name, so
// numpy is never imported here; numpy's bool is binding/numpy_bool.hpp's); and float's
// and int's own repr, which the limited API reaches through their slots.
#pragma once

#include <string_view>

#include <nanobind/nanobind.h>

namespace kestrava::plan_module {

namespace nb = nanobind;

// Imports decimal and collections.abc once, when the module is made; the classes are
// kept for the life of the process. Raises when an import fails.
void remember_python_types();

bool is_decimal(nb::handle value);
// decimal.Decimal(text); raises what Decimal raises.
nb::object new_decimal(std::string_view text);
// repr() as float and int write it, whatever a subclass writes (numpy's float64 says
// "np.float64(...)"): a new str, or NULL with the exception set. Runs no Python code.
PyObject* float_repr(PyObject* value) noexcept;
PyObject* int_repr(PyObject* value) noexcept;
// A collections.abc.Mapping, Set or MappingView, registered ones included.
bool is_unordered_collection(nb::handle value);
// A numpy float scalar that is not float64 (float16, float32, longdouble): no float
// subclass, so it has no repr the planner would take as its value.
bool is_numpy_narrow_float(nb::handle value);

}  // namespace kestrava::plan_module
