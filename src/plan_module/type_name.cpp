// The names of type_name.hpp.
#include "plan_module/type_name.hpp"

#include <optional>
#include <string_view>

#include "binding/forced_unwind.hpp"
#include "binding/interned_strings.hpp"
#include "binding/owned_ref.hpp"
#include "binding/python_failure.hpp"
#include "binding/utf8_view.hpp"

namespace kestrava::plan_module {

namespace {

// The deallocator the interpreter gives every class it makes (from a class statement or
// type()); a type made in C has one of its own. Compared, never called.
void* class_deallocator = nullptr;

// A class's tp_name is its __name__; a C type's keeps the module it was made with.
bool made_by_the_interpreter(PyTypeObject* type) {
    return (PyType_GetFlags(type) & Py_TPFLAGS_HEAPTYPE) != 0 &&
           PyType_GetSlot(type, Py_tp_dealloc) == class_deallocator;
}

// The text of a name; nullopt, the failure dropped, when there is none.
std::optional<std::string> name_text(const OwnedRef& name) {
    if (name && PyUnicode_Check(name.get())) {
        if (const std::optional<std::string_view> text = utf8_view(name.get())) return std::string(*text);
    }
    drop_current_exception();
    return std::nullopt;
}

}  // namespace

void remember_class_deallocator() {
    const nb::object probe = nb::handle(reinterpret_cast<PyObject*>(&PyType_Type))("probe", nb::tuple(), nb::dict());
    class_deallocator = PyType_GetSlot(reinterpret_cast<PyTypeObject*>(probe.ptr()), Py_tp_dealloc);
    if (class_deallocator == nullptr) throw nb::python_error();
}

std::string type_name(PyTypeObject* type) {
    // __name__: the part of a C type's tp_name after its last dot.
    const OwnedRef name_object = OwnedRef::steal(PyType_GetName(type));
    if (!name_object) throw nb::python_error();
    const std::string name = name_text(name_object).value_or(std::string());
    if (made_by_the_interpreter(type)) return name;
    // The part before the dot ("builtins" when there is none); a metaclass's __module__
    // may be Python code: see binding/forced_unwind.hpp.
    PyObject* const attribute = interned_module_attribute();
    const std::optional<std::string> module = name_text(OwnedRef::steal(
        parked_on_forced_unwind([&] { return PyObject_GetAttr(reinterpret_cast<PyObject*>(type), attribute); })));
    if (!module || *module == "builtins") return name;
    return *module + "." + name;
}

}  // namespace kestrava::plan_module
