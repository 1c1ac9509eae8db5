// cheapest_periods as a plain Python function over the compiled entry: the
// interpreter binds the arguments (positional or keyword, defaults, its own messages
// for a missing, doubled or unknown argument), and inspect.signature, help() and
// mypy's stubtest see the real signature. The compiled entry takes the seven
// arguments by position only.
#pragma once

#include <string>

#include <nanobind/nanobind.h>

namespace kestrava::plan_module {

namespace nb = nanobind;

// Defines module.cheapest_periods, calling module.<entry_name>. Raises if the
// interpreter cannot compile or run the definition.
void define_cheapest_periods(nb::module_& module, const char* entry_name);
// Defines module._plan, its ten arguments positional only, calling module.<entry_name>.
void define_plan(nb::module_& module, const char* entry_name);
// Defines module._plan_table, its six arguments positional only, with this docstring.
void define_plan_table(nb::module_& module, const char* entry_name, const std::string& doc);

}  // namespace kestrava::plan_module
