// The process-wide interned attribute names.
#include "binding/interned_strings.hpp"

#include <string_view>

#include "binding/python_failure.hpp"

namespace kestrava {

namespace {

// Filled under the interpreter lock, by code that never gives the lock up, so two
// threads cannot fill one slot at the same time. Never released.
PyObject* interned(PyObject*& slot, std::string_view text) {
    if (slot == nullptr) {
        PyObject* made = PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
        if (made == nullptr) {
            fail_python_api_call();
        }
        PyUnicode_InternInPlace(&made);
        slot = made;
    }
    return slot;
}

PyObject* name_attribute = nullptr;
PyObject* all_attribute = nullptr;
PyObject* module_attribute = nullptr;

}  // namespace

PyObject* interned_name_attribute() { return interned(name_attribute, "__name__"); }
PyObject* interned_all_attribute() { return interned(all_attribute, "__all__"); }
PyObject* interned_module_attribute() { return interned(module_attribute, "__module__"); }

}  // namespace kestrava
