// The PanicException class, made once.
#include "module/panic_exception.hpp"

namespace kestrava::module {

namespace {

constexpr const char* panic_exception_doc =
    "Raised when the native code called from Python fails internally.\n"
    "\n"
    "Like SystemExit, this exception derives from BaseException so that it typically\n"
    "propagates all the way through the stack and makes the interpreter exit.\n";

// Filled once under the interpreter lock, never released.
PyObject* panic_type = nullptr;

}  // namespace

PyObject* panic_exception_type() noexcept {
    if (panic_type == nullptr) {
        panic_type =
            PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", panic_exception_doc, PyExc_BaseException, nullptr);
    }
    return panic_type;
}

PyObject* panic_exception_type_if_made() noexcept { return panic_type; }

}  // namespace kestrava::module
