// The call boundary: the one wrapper that every entry of the module (the init entry and
// each call of get_cheapest_periods) runs through.
//
// Invariant: the entry returns NULL if and only if a Python exception is set.
//  - A body's value (a new reference) is returned as it is.
//  - A body's PythonError is raised and NULL returned.
//  - An InternalFailure (the only C++ exception the module throws on purpose) is reported
//    on standard error and raised as PanicException; the interpreter stays usable.
//  - Where raising fails for lack of memory (the PanicException class or an exception's
//    argument cannot be made), the interpreter's MemoryError is left set instead.
//  - A failure that escapes this handling writes "uncaught panic at ffi boundary" and
//    aborts: nothing may unwind into the interpreter.
#pragma once

#include "binding/python_include.hpp"

#include <exception>
#include <new>

#include "binding/owned_ref.hpp"
#include "module/python_error.hpp"
#include "selection/internal_failure.hpp"

namespace kestrava::module {

// Writes the failure report and raises PanicException carrying the failure's message, or
// leaves MemoryError set when the PanicException cannot be made.
PyObject* raise_internal_failure(const InternalFailure& failure);

// The trap: a failure escaped the boundary's own handling.
[[noreturn]] void abort_uncaught_panic() noexcept;

// A std::bad_alloc reached the boundary. The module's own allocations end the process
// where they fail, with their size; this one came from outside them.
[[noreturn]] void abort_allocation_failure_of_unknown_size() noexcept;

// Runs `body` (returning PyOutcome<OwnedRef>) as one entry of the module.
template <class Body>
PyObject* run_in_call_boundary(Body&& body) noexcept {
    try {
        try {
            PyOutcome<OwnedRef> outcome = body();
            if (outcome.ok()) {
                return outcome.value().release();
            }
            outcome.take_error().raise();
            return nullptr;
        } catch (const InternalFailure& failure) {
            return raise_internal_failure(failure);
        } catch (const std::bad_alloc&) {
            abort_allocation_failure_of_unknown_size();
        } catch (const std::exception& failure) {
            // Not thrown by the module on purpose; still a failure of this call only.
            return raise_internal_failure(InternalFailure(failure.what()));
        }
    } catch (...) {
        abort_uncaught_panic();
    }
}

}  // namespace kestrava::module
