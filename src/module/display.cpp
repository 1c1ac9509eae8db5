// The display rule and the type-name rule.
#include "module/display.hpp"

#include <cstddef>
#include <string_view>

#include "binding/forced_unwind.hpp"
#include "binding/owned_ref.hpp"
#include "binding/utf8_view.hpp"
#include "module/messages.hpp"
#include "module/python_error.hpp"

namespace kestrava::module {

std::string utf8_text_lenient(PyObject* str_object) {
    if (const auto utf8 = utf8_view(str_object)) {
        return std::string(*utf8);
    }
    drop_current_exception();
    // Only lone surrogates stop the strict encoding; "surrogatepass" keeps them as
    // ill-formed bytes, and the interpreter's "replace" decoder turns each maximal
    // ill-formed subpart into U+FFFD.
    const OwnedRef bytes = OwnedRef::steal(PyUnicode_AsEncodedString(str_object, "utf-8", "surrogatepass"));
    if (!bytes) {
        fail_python_api_call();
    }
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) {
        fail_python_api_call();
    }
    const OwnedRef replaced = OwnedRef::steal(PyUnicode_DecodeUTF8(data, size, "replace"));
    if (!replaced) {
        fail_python_api_call();
    }
    const auto utf8 = utf8_view(replaced.get());
    if (!utf8) {
        fail_python_api_call();
    }
    return std::string(*utf8);
}

std::optional<std::string> str_text(PyObject* object) {
    // __str__ and the unraisable hook may be Python code: see binding/forced_unwind.hpp.
    const OwnedRef text = OwnedRef::steal(parked_on_forced_unwind([object] { return PyObject_Str(object); }));
    if (!text) {
        return std::nullopt;
    }
    return utf8_text_lenient(text.get());
}

std::string display_text(PyObject* object) {
    if (std::optional<std::string> text = str_text(object)) {
        return std::move(*text);
    }
    parked_on_forced_unwind([object] { PyErr_WriteUnraisable(object); });
    const OwnedRef name = OwnedRef::steal(PyType_GetName(Py_TYPE(object)));
    if (!name) {
        drop_current_exception();
        return std::string(messages::unprintable_object);
    }
    // The name is shown by the same rule, but only one level deep: a name whose own
    // str() fails counts as no name, so a type named by an unprintable object of that
    // same type cannot recurse without end.
    std::optional<std::string> name_text = str_text(name.get());
    if (!name_text) {
        drop_current_exception();
        return std::string(messages::unprintable_object);
    }
    return messages::unprintable_named_object(*name_text);
}

std::string type_name_text(PyTypeObject* type) {
    const OwnedRef name = OwnedRef::steal(PyType_GetQualName(type));
    if (!name) {
        drop_current_exception();
        return std::string(messages::type_name_unavailable);
    }
    const auto utf8 = utf8_view(name.get());
    if (!utf8) {
        drop_current_exception();
        return std::string(messages::type_name_unavailable);
    }
    return std::string(*utf8);
}

}  // namespace kestrava::module
