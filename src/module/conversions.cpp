// The list check and the text, unsigned and flag rules.
#include "module/conversions.hpp"

#include <cstddef>
#include <limits>
#include <optional>
#include <string>

#include "binding/forced_unwind.hpp"
#include "binding/owned_ref.hpp"
#include "module/display.hpp"
#include "module/interned_strings.hpp"
#include "module/messages.hpp"
#include "module/take_over_exception.hpp"

namespace kestrava::module {

namespace {

// Whether `type` names itself numpy's boolean: its __module__ is the str "numpy" and its
// name is "bool_" or "bool". Nothing of numpy is imported. A failure while reading the
// names means "no" and is dropped.
bool is_numpy_boolean_type(PyTypeObject* type) {
    const OwnedRef module_name =
        OwnedRef::steal(PyObject_GetAttr(reinterpret_cast<PyObject*>(type), interned_module_attribute()));
    if (!module_name) {
        drop_current_exception();
        return false;
    }
    if (!PyUnicode_Check(module_name.get())) {
        return false;
    }
    const std::optional<std::string_view> module_text = utf8_view(module_name.get());
    if (!module_text) {
        drop_current_exception();
        return false;
    }
    if (*module_text != "numpy") {
        return false;
    }
    const OwnedRef type_name = OwnedRef::steal(PyType_GetName(type));
    if (!type_name) {
        drop_current_exception();
        return false;
    }
    const std::optional<std::string_view> name = utf8_view(type_name.get());
    if (!name) {
        drop_current_exception();
        return false;
    }
    return *name == "bool_" || *name == "bool";
}

}  // namespace

PyOutcome<PyObject*> check_list(PyObject* object) {
    if (PyList_Check(object)) {
        return object;
    }
    return type_error(messages::cannot_convert(type_name_text(Py_TYPE(object)), "PyList"));
}

PyOutcome<std::string_view> extract_text(PyObject* object) {
    if (!PyUnicode_Check(object)) {
        return type_error(messages::cannot_convert(type_name_text(Py_TYPE(object)), "PyString"));
    }
    const auto utf8 = utf8_view(object);
    if (!utf8) {
        return take_over_current_exception();
    }
    return *utf8;
}

PyOutcome<std::uint64_t> extract_unsigned(PyObject* object) {
    constexpr unsigned long long all_ones = std::numeric_limits<unsigned long long>::max();
    unsigned long long value = 0;
    if (PyLong_Check(object)) {
        value = PyLong_AsUnsignedLongLong(object);
    } else {
        // __index__ may be Python code: see binding/forced_unwind.hpp.
        const OwnedRef index = OwnedRef::steal(parked_on_forced_unwind([object] { return PyNumber_Index(object); }));
        if (!index) {
            return take_over_current_exception();
        }
        value = PyLong_AsUnsignedLongLong(index.get());
    }
    // All ones is both the failure signal and the largest count; only a set exception
    // tells them apart.
    if (value == all_ones) {
        if (Status failure = take_over_exception_if_set()) {
            return std::move(*failure);
        }
    }
    return static_cast<std::uint64_t>(value);
}

PyOutcome<bool> extract_flag(PyObject* object) {
    if (Py_IS_TYPE(object, &PyBool_Type)) {
        return object == Py_True;
    }
    PyTypeObject* type = Py_TYPE(object);
    if (is_numpy_boolean_type(type)) {
        PyNumberMethods* number = type->tp_as_number;
        if (number == nullptr || number->nb_bool == nullptr) {
            return type_error(messages::no_bool_conversion(display_text(reinterpret_cast<PyObject*>(type))));
        }
        switch (number->nb_bool(object)) {
            case 0:
                return false;
            case 1:
                return true;
            default:
                return take_over_current_exception();
        }
    }
    return type_error(messages::cannot_convert(type_name_text(type), "PyBool"));
}

}  // namespace kestrava::module
