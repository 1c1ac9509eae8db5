// Raising PythonErrors and taking over the interpreter's current exception.
#include "module/python_error.hpp"

#include "module/messages.hpp"
#include "module/panic_exception.hpp"
#include "selection/internal_failure.hpp"

namespace kestrava::module {

void PythonError::raise() && noexcept {
    if (instance_) {
        PyErr_SetRaisedException(instance_.release());
        return;
    }
    // An argument that cannot be made leaves the interpreter's MemoryError set: a
    // failure raised in its place could fail the same way.
    OwnedRef text =
        OwnedRef::steal(PyUnicode_FromStringAndSize(message_.data(), static_cast<Py_ssize_t>(message_.size())));
    if (!text) {
        return;
    }
    if (class_ != nullptr && class_ == panic_exception_type_if_made()) {
        const OwnedRef arguments = OwnedRef::steal(PyTuple_New(1));
        if (!arguments) {
            return;
        }
        PyTuple_SET_ITEM(arguments.get(), 0, text.release());  // steals the str
        PyErr_SetObject(class_, arguments.get());
        return;
    }
    PyErr_SetObject(class_, text.get());
}

OwnedRef PythonError::into_instance() && {
    if (instance_) {
        return std::move(instance_);
    }
    std::move(*this).raise();
    OwnedRef instance = OwnedRef::steal(PyErr_GetRaisedException());
    if (!instance) {
        fail_python_api_call();
    }
    return instance;
}

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

void drop_current_exception() noexcept { const OwnedRef dropped = OwnedRef::steal(PyErr_GetRaisedException()); }

void fail_python_api_call(std::source_location where) {
    PyErr_Print();
    throw InternalFailure(std::string(messages::python_api_call_failed), where);
}

}  // namespace kestrava::module
