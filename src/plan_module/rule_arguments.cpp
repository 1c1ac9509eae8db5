// The conversions of rule_arguments.hpp.
#include "plan_module/rule_arguments.hpp"

#include <limits>

#include "plan_module/plan_messages.hpp"
#include "plan_module/price_objects.hpp"
#include "plan_module/python_types.hpp"
#include "platform/forced_unwind.hpp"

namespace kestrava::plan_module {

std::string Count::written() const {
    nb::object text = nb::steal(PyLong_Type.tp_repr(integer.ptr()));
    if (!text.is_valid()) throw nb::python_error();
    return std::string(text_of(text));
}

Count read_count(nb::handle value, const char* name) {
    PyObject* object = value.ptr();
    if (PyBool_Check(object) || is_numpy_bool(value) || !PyIndex_Check(object)) {
        throw nb::type_error(messages::count_not_an_int(name, Py_TYPE(object)->tp_name).c_str());
    }
    Count count{nb::steal(parked_on_forced_unwind([object] { return PyNumber_Index(object); }))};
    if (!count.integer.is_valid()) throw nb::python_error();
    int overflow = 0;
    const long long small = PyLong_AsLongLongAndOverflow(count.integer.ptr(), &overflow);
    if (overflow == 0 && small == -1 && PyErr_Occurred()) throw nb::python_error();
    if (overflow > 0) {
        count.value = std::numeric_limits<std::uint64_t>::max();
        return count;
    }
    if (overflow < 0 || small < 0) throw nb::value_error(messages::count_negative(name, count.written()).c_str());
    count.value = static_cast<std::uint64_t>(small);
    return count;
}

bool read_flag(nb::handle value) {
    PyObject* object = value.ptr();
    if (!PyBool_Check(object) && !is_numpy_bool(value)) {
        throw nb::type_error(messages::flag_not_a_bool(Py_TYPE(object)->tp_name).c_str());
    }
    const int truth = PyObject_IsTrue(object);
    if (truth < 0) throw nb::python_error();
    return truth == 1;
}

}  // namespace kestrava::plan_module
