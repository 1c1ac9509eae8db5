// The PanicException class and the resumption of a PanicException taken over from the
// interpreter.
#include "module/panic_exception.hpp"

#include <cstdio>
#include <string>

#include "module/display.hpp"
#include "module/messages.hpp"
#include "module/python_error.hpp"
#include "selection/internal_failure.hpp"

namespace kestrava::module {

namespace {

constexpr const char* panic_exception_doc =
    "Raised when the native code called from Python fails internally.\n"
    "\n"
    "Like SystemExit, this exception derives from BaseException so that it typically\n"
    "propagates all the way through the stack and makes the interpreter exit.\n";

// Filled once under the interpreter lock, never released.
PyObject* panic_type = nullptr;

void write_to_stderr(std::string_view text) noexcept { std::fwrite(text.data(), 1, text.size(), stderr); }

}  // namespace

PyObject* panic_exception_type() noexcept {
    if (panic_type == nullptr) {
        panic_type =
            PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", panic_exception_doc, PyExc_BaseException, nullptr);
    }
    return panic_type;
}

PyObject* panic_exception_type_if_made() noexcept { return panic_type; }

void resume_panic(OwnedRef exception) {
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

}  // namespace kestrava::module
