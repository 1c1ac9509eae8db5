// The answer both bindings give for a plan's periods: its indices as a list of ints.
#pragma once

#include "binding/python_include.hpp"

#include "selection/item.hpp"

namespace kestrava {

// With the lock held: a new list of `indices`, allocated once at its final length; or
// nullptr with the interpreter's exception set (out of memory). Never throws.
PyObject* new_index_list(const IndexList& indices) noexcept;

}  // namespace kestrava
