// _plan_table as a plain Python function over the compiled entry, which takes its
// arguments by position only: inspect.signature, help() and mypy's stubtest see the
// real signature.
#pragma once

#include <string>

#include <nanobind/nanobind.h>

namespace kestrava::plan_module {

namespace nb = nanobind;

// Defines module._plan_table, its six arguments positional only, with this docstring.
void define_plan_table(nb::module_& module, const char* entry_name, const std::string& doc);

}  // namespace kestrava::plan_module
