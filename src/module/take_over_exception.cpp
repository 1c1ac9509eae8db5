// The taking over of take_over_exception.hpp, and the resumption of a PanicException.
#include "module/take_over_exception.hpp"

#include <cstdio>
#include <string>
#include <string_view>

#include "module/display.hpp"
#include "module/messages.hpp"
#include "module/panic_exception.hpp"
#include "selection/internal_failure.hpp"

namespace kestrava::module {

namespace {

void write_to_stderr(std::string_view text) noexcept { std::fwrite(text.data(), 1, text.size(), stderr); }

[[noreturn]] void resume_panic(OwnedRef exception) {
    std::string message;
    if (std::optional<std::string> text = str_text(exception.get())) {
        message = std::move(*text);
    } else {
        drop_current_exception();
        message = messages::unwrapped_panic;
    }
    write_to_stderr(messages::resuming_panic_line);
    write_to_stderr(messages::python_stack_trace_line);
    PyErr_SetRaisedException(exception.release());
    PyErr_PrintEx(0);
    throw InternalFailure(std::move(message));
}

}  // namespace

Status take_over_exception_if_set() {
    OwnedRef exception = OwnedRef::steal(PyErr_GetRaisedException());
    if (!exception) {
        return std::nullopt;
    }
    // No PanicException can exist before its class has been made.
    PyObject* panic_type = panic_exception_type_if_made();
    if (panic_type != nullptr && reinterpret_cast<PyObject*>(Py_TYPE(exception.get())) == panic_type) {
        resume_panic(std::move(exception));
    }
    return PythonError::from_instance(std::move(exception));
}

PythonError take_over_current_exception() {
    if (Status taken = take_over_exception_if_set()) {
        return std::move(*taken);
    }
    return PythonError::deferred(PyExc_SystemError, std::string(messages::no_exception_set));
}

}  // namespace kestrava::module
