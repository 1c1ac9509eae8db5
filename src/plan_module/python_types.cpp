// The type checks of python_types.hpp.
#include "plan_module/python_types.hpp"

#include <string>
#include <string_view>

#include "binding/forced_unwind.hpp"
#include "plan_module/type_name.hpp"

namespace kestrava::plan_module {

namespace {

// Strong references taken once and never released: the module cannot be unloaded,
// and a release after the interpreter ends would be a use after free.
PyObject* decimal_class = nullptr;
// (Mapping, Set, MappingView): one isinstance call tests all three.
PyObject* unordered_classes = nullptr;

PyObject* class_from(const char* module_name, const char* class_name) {
    nb::object module = nb::module_::import_(module_name);
    nb::object cls = module.attr(class_name);
    return cls.release().ptr();
}

bool is_instance(nb::handle value, PyObject* cls) {
    const int answer = parked_on_forced_unwind([&] { return PyObject_IsInstance(value.ptr(), cls); });
    if (answer < 0) throw nb::python_error();
    return answer == 1;
}

// The type's name when numpy defines it, else empty.
std::string numpy_type_name(nb::handle value) {
    const std::string full = type_name(Py_TYPE(value.ptr()));
    constexpr std::string_view prefix = "numpy.";
    return full.starts_with(prefix) ? full.substr(prefix.size()) : std::string{};
}

}  // namespace

void remember_python_types() {
    decimal_class = class_from("decimal", "Decimal");
    nb::object abc = nb::module_::import_("collections.abc");
    unordered_classes = nb::make_tuple(abc.attr("Mapping"), abc.attr("Set"), abc.attr("MappingView")).release().ptr();
}

bool is_decimal(nb::handle value) { return is_instance(value, decimal_class); }

nb::object new_decimal(std::string_view text) {
    nb::object argument = nb::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    if (!argument.is_valid()) throw nb::python_error();
    // The slot before the argument is the callee's to use (PY_VECTORCALL_ARGUMENTS_OFFSET).
    PyObject* arguments[] = {nullptr, argument.ptr()};
    nb::object value = nb::steal(
        PyObject_Vectorcall(decimal_class, arguments + 1, 1 | PY_VECTORCALL_ARGUMENTS_OFFSET, nullptr));
    if (!value.is_valid()) throw nb::python_error();
    return value;
}

// The limited API keeps PyTypeObject's fields out of reach, not its slots.
PyObject* float_repr(PyObject* value) noexcept {
    static const auto repr = reinterpret_cast<reprfunc>(PyType_GetSlot(&PyFloat_Type, Py_tp_repr));
    return repr(value);
}

PyObject* int_repr(PyObject* value) noexcept {
    static const auto repr = reinterpret_cast<reprfunc>(PyType_GetSlot(&PyLong_Type, Py_tp_repr));
    return repr(value);
}

bool is_unordered_collection(nb::handle value) { return is_instance(value, unordered_classes); }

bool is_numpy_narrow_float(nb::handle value) {
    const std::string name = numpy_type_name(value);
    return name.starts_with("float") || name == "longdouble" || name == "half" || name == "single";
}

}  // namespace kestrava::plan_module
