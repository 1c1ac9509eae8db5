// The name the interpreter's own messages give a type (its tp_name, which the limited
// API hides), rebuilt from what that API shows: "module.Name" for a type made in C,
// static or on the heap ("int" for a builtin), and the bare __name__ for a class made
// by a class statement or type().
#pragma once

#include <string>

#include <nanobind/nanobind.h>

namespace kestrava::plan_module {

namespace nb = nanobind;

// Once, when the module is made: learns how the interpreter's classes are told from
// types made in C. Raises when it cannot.
void remember_class_deallocator();

// With the lock held. A __module__ that cannot be read leaves the bare name; raises
// only when the interpreter cannot make the name's str (out of memory).
std::string type_name(PyTypeObject* type);

}  // namespace kestrava::plan_module
