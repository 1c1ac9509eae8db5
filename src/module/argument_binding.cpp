// extract_arguments_fastcall and argument_extraction_error.
#include "module/argument_binding.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "binding/owned_ref.hpp"
#include "binding/python_failure.hpp"
#include "binding/utf8_view.hpp"
#include "module/display.hpp"
#include "module/messages.hpp"

namespace kestrava::module {

namespace {

// The UTF-8 bytes of a keyword name; nullopt (exception dropped) when it has none, and
// such a name then matches no parameter.
std::optional<std::string_view> keyword_name_utf8(PyObject* name) noexcept {
    const auto utf8 = utf8_view(name);
    if (!utf8) drop_current_exception();
    return utf8;
}

// The slot of the parameter called `name`; exact byte comparison.
std::optional<std::size_t> find_parameter(const FunctionDescription& description, std::string_view name) noexcept {
    for (std::size_t i = 0; i < description.parameters.size(); ++i) {
        if (description.parameters[i].name == name) {
            return i;
        }
    }
    return std::nullopt;
}

// Binds each keyword argument to its parameter's slot, in call order; the first name
// that is unknown or names a filled slot ends the binding.
Status bind_keyword_arguments(const FunctionDescription& description, PyObject* const* values, PyObject* keyword_names,
                              std::span<PyObject*> slots) {
    if (keyword_names == nullptr) {
        return std::nullopt;
    }
    const Py_ssize_t keyword_count = PyTuple_Size(keyword_names);
    for (Py_ssize_t k = 0; k < keyword_count; ++k) {
        PyObject* name = PyTuple_GetItem(keyword_names, k);
        if (name == nullptr) {
            fail_python_api_call();
        }
        const std::optional<std::string_view> name_utf8 = keyword_name_utf8(name);
        const std::optional<std::size_t> slot = name_utf8 ? find_parameter(description, *name_utf8) : std::nullopt;
        if (!slot) {
            return type_error(messages::unexpected_keyword_argument(description, display_text(name)));
        }
        if (slots[*slot] != nullptr) {
            return type_error(messages::multiple_values_for_argument(description, description.parameters[*slot].name));
        }
        slots[*slot] = values[k];
    }
    return std::nullopt;
}

// Every required parameter without an argument, listed in parameter order.
Status check_required_arguments(const FunctionDescription& description, std::span<PyObject* const> slots) {
    std::vector<std::string_view> missing;  // allocates only when one is missing
    for (std::size_t i = 0; i < description.required_parameters; ++i) {
        if (slots[i] == nullptr) {
            missing.push_back(description.parameters[i].name);
        }
    }
    if (missing.empty()) {
        return std::nullopt;
    }
    return type_error(messages::missing_required_arguments(description, missing));
}

}  // namespace

Status extract_arguments_fastcall(const FunctionDescription& description, PyObject* const* arguments,
                                  Py_ssize_t positional_count, PyObject* keyword_names, std::span<PyObject*> slots) {
    const auto given = static_cast<std::size_t>(positional_count);
    // Surplus positional arguments are reported before any keyword is looked at.
    if (given > description.parameters.size()) {
        return type_error(messages::too_many_positional_arguments(description, given));
    }
    for (std::size_t i = 0; i < given; ++i) {
        slots[i] = arguments[i];
    }
    if (Status failure = bind_keyword_arguments(description, arguments + given, keyword_names, slots)) {
        return failure;
    }
    return check_required_arguments(description, slots);
}

PythonError argument_extraction_error(std::string_view parameter_name, PythonError error) {
    std::string text;
    OwnedRef cause;
    if (error.is_deferred()) {
        if (error.deferred_class() != PyExc_TypeError) {
            return error;
        }
        // A deferred error's text is its message, and a fresh instance has no cause.
        text = error.deferred_message();
    } else {
        OwnedRef incoming = std::move(error).into_instance();
        if (!Py_IS_TYPE(incoming.get(), reinterpret_cast<PyTypeObject*>(PyExc_TypeError))) {
            return PythonError::from_instance(std::move(incoming));
        }
        text = display_text(incoming.get());
        cause = OwnedRef::steal(PyException_GetCause(incoming.get()));
    }
    OwnedRef wrapped =
        PythonError::deferred(PyExc_TypeError, messages::argument_prefixed(parameter_name, text)).into_instance();
    // Setting a cause (even none) also sets __suppress_context__, as the interpreter's
    // own raise-from does.
    PyException_SetCause(wrapped.get(), cause.release());
    return PythonError::from_instance(std::move(wrapped));
}

}  // namespace kestrava::module
