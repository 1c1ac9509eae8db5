// The name check of numpy_bool.hpp.
#include "binding/numpy_bool.hpp"

#include <optional>
#include <string_view>

#include "binding/forced_unwind.hpp"
#include "binding/interned_strings.hpp"
#include "binding/owned_ref.hpp"
#include "binding/python_failure.hpp"
#include "binding/utf8_view.hpp"

namespace kestrava {

namespace {

// The UTF-8 text of a name that an interpreter call returned; nullopt, the failure
// dropped, when the call failed or the name has no UTF-8 form.
std::optional<std::string_view> name_text(const OwnedRef& name) noexcept {
    const std::optional<std::string_view> text = name ? utf8_view(name.get()) : std::nullopt;
    if (!text) drop_current_exception();
    return text;
}

}  // namespace

bool is_numpy_bool_type(PyTypeObject* type) {
    PyObject* const attribute = interned_module_attribute();
    // A metaclass's __module__ may be Python code: see forced_unwind.hpp.
    const OwnedRef module_name = OwnedRef::steal(
        parked_on_forced_unwind([&] { return PyObject_GetAttr(reinterpret_cast<PyObject*>(type), attribute); }));
    if (module_name && !PyUnicode_Check(module_name.get())) return false;
    if (name_text(module_name) != "numpy") return false;
    const OwnedRef type_name = OwnedRef::steal(PyType_GetName(type));
    const std::optional<std::string_view> name = name_text(type_name);
    return name == "bool_" || name == "bool";
}

}  // namespace kestrava
