// Argument binding: assigning the interpreter's fast-call arguments to the parameter
// slots of a FunctionDescription, and tying a conversion failure to its argument.
#pragma once

#include "binding/python_include.hpp"

#include <span>
#include <string_view>

#include "module/function_description.hpp"
#include "module/python_error.hpp"

namespace kestrava::module {

// Fills `slots` (one per parameter, all NULL on entry) with borrowed references from
// `arguments`: the first `positional_count` are positional, then one value per name of
// `keyword_names` (a tuple of str, or NULL). Tests in this order, the first failure
// ending the binding: too many positional arguments; each keyword in call order
// (unexpected, or a value given twice); missing required arguments. Slots of omitted
// optional parameters stay NULL. Runs no code of the arguments.
Status extract_arguments_fastcall(const FunctionDescription& description, PyObject* const* arguments,
                                  Py_ssize_t positional_count, PyObject* keyword_names, std::span<PyObject*> slots);

// A conversion failure of the argument `parameter_name`: a TypeError (exactly that
// class) is replaced by a new TypeError "argument '{name}': {its text}" that keeps the
// original's cause; every other error passes unchanged.
PythonError argument_extraction_error(std::string_view parameter_name, PythonError error);

}  // namespace kestrava::module
