// PythonError: an error on its way to the interpreter, held either deferred (a class and
// its message, no instance made yet) or as an exception instance; PyOutcome<T>: a value or
// such an error. (Taking over the interpreter's current exception is take_over_exception.hpp's;
// dropping it or giving up on it, binding/python_failure.hpp's.)
#pragma once

#include "binding/python_include.hpp"

#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "binding/owned_ref.hpp"
#include "binding/python_failure.hpp"

namespace kestrava::module {

class PythonError {
public:
    // `exception_class` is borrowed and must live for the process: a built-in class
    // or the cached PanicException type.
    static PythonError deferred(PyObject* exception_class, std::string message) {
        PythonError error;
        error.class_ = exception_class;
        error.message_ = std::move(message);
        return error;
    }
    static PythonError from_instance(OwnedRef instance) noexcept {
        PythonError error;
        error.instance_ = std::move(instance);
        return error;
    }

    bool is_deferred() const noexcept { return !instance_; }
    // For a deferred error: its class and message.
    PyObject* deferred_class() const noexcept { return class_; }
    const std::string& deferred_message() const noexcept { return message_; }

    // Whether the error is an instance of `exception_class` (or a subclass of it), as
    // PyErr_GivenExceptionMatches decides.
    bool matches(PyObject* exception_class) const noexcept {
        return PyErr_GivenExceptionMatches(instance_ ? instance_.get() : class_, exception_class) != 0;
    }

    // Sets the error as the interpreter's current exception. A deferred error is raised
    // with PyErr_SetObject(class, message str). When the str cannot be made, the
    // interpreter's own error (MemoryError) is left set instead.
    void raise() && noexcept;

    // The error as an exception instance: a deferred error is raised and taken back
    // (a MemoryError when raising it failed).
    OwnedRef into_instance() &&;

private:
    PythonError() = default;

    PyObject* class_ = nullptr;
    std::string message_;
    OwnedRef instance_;
};

// A deferred TypeError, the class of every binding and conversion message.
inline PythonError type_error(std::string message) {
    return PythonError::deferred(PyExc_TypeError, std::move(message));
}

// Success, or the PythonError of a step that has no value to give.
using Status = std::optional<PythonError>;

// A value of type T, or the PythonError that prevented it.
template <class T>
class [[nodiscard]] PyOutcome {
public:
    PyOutcome(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    PyOutcome(PythonError error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const noexcept { return state_.index() == 0; }
    T& value() noexcept { return *std::get_if<0>(&state_); }
    PythonError take_error() noexcept { return std::move(*std::get_if<1>(&state_)); }

private:
    std::variant<T, PythonError> state_;
};

}  // namespace kestrava::module
