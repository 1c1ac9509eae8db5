// The list check and the text, unsigned and flag rules.
#include "module/conversions.hpp"

#include <cstddef>
#include <limits>
#include <optional>
#include <string>

#include "binding/forced_unwind.hpp"
#include "binding/numpy_bool.hpp"
#include "binding/owned_ref.hpp"
#include "binding/utf8_view.hpp"
#include "module/display.hpp"
#include "module/messages.hpp"
#include "module/take_over_exception.hpp"

namespace kestrava::module {

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
    if (is_numpy_bool_type(type)) {
        // The slot the interpreter's truth test calls; null when the type defines no __bool__.
        const auto truth = reinterpret_cast<inquiry>(PyType_GetSlot(type, Py_nb_bool));
        if (truth == nullptr) {
            return type_error(messages::no_bool_conversion(display_text(reinterpret_cast<PyObject*>(type))));
        }
        // __bool__ may be Python code: see binding/forced_unwind.hpp.
        switch (parked_on_forced_unwind([truth, object] { return truth(object); })) {
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
