// Raising PythonErrors and making their instances.
#include "module/python_error.hpp"

#include "binding/python_failure.hpp"

namespace kestrava::module {

void PythonError::raise() && noexcept {
    if (instance_) {
        PyErr_SetRaisedException(instance_.release());
        return;
    }
    // An argument that cannot be made leaves the interpreter's MemoryError set: a
    // failure raised in its place could fail the same way.
    const OwnedRef text =
        OwnedRef::steal(PyUnicode_FromStringAndSize(message_.data(), static_cast<Py_ssize_t>(message_.size())));
    if (!text) {
        return;
    }
    // The class is called with the str as its one argument, PanicException as any other.
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

}  // namespace kestrava::module
