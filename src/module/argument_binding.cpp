// extract_arguments_fastcall and argument_extraction_error.
#include "module/argument_binding.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "module/display.hpp"
#include "module/messages.hpp"
#include "module/python_ref.hpp"

namespace kestrava::module {

namespace {

// The UTF-8 bytes of a keyword name; nullopt (exception dropped) when it has none, and
// such a name then matches no parameter.
std::optional<std::string_view> keyword_name_utf8(PyObject* name) noexcept {
    const auto utf8 = utf8_view(name);
    if (!utf8) drop_current_exception();
    return utf8;
}

// The slot of the parameter called `name`: keyword-only parameters first, then the
// positional ones; exact byte comparison.
std::optional<std::size_t> find_parameter(const FunctionDescription& description, std::string_view name) {
    const std::size_t positional = description.positional_parameter_names.size();
    for (std::size_t i = 0; i < description.keyword_only_parameters.size(); ++i) {
        if (description.keyword_only_parameters[i].name == name) {
            return positional + i;
        }
    }
    for (std::size_t i = 0; i < positional; ++i) {
        if (description.positional_parameter_names[i] == name) {
            return i;
        }
    }
    return std::nullopt;
}

}  // namespace

Status extract_arguments_fastcall(const FunctionDescription& description, PyObject* const* arguments,
                                  Py_ssize_t positional_count, PyObject* keyword_names,
                                  std::span<PyObject*> slots) {
    const auto given = static_cast<std::size_t>(positional_count);
    const std::size_t positional_parameters = description.positional_parameter_names.size();

    // Surplus positional arguments are reported before any keyword is looked at.
    if (given > positional_parameters) {
        return messages::too_many_positional_arguments(description, given);
    }
    for (std::size_t i = 0; i < given; ++i) {
        slots[i] = arguments[i];
    }

    std::vector<std::string_view> positional_only_by_keyword;
    if (keyword_names != nullptr) {
        const Py_ssize_t keyword_count = PyTuple_GET_SIZE(keyword_names);
        for (Py_ssize_t k = 0; k < keyword_count; ++k) {
            PyObject* name = PyTuple_GET_ITEM(keyword_names, k);
            PyObject* value = arguments[positional_count + k];
            const std::optional<std::string_view> name_utf8 = keyword_name_utf8(name);
            const std::optional<std::size_t> slot =
                name_utf8 ? find_parameter(description, *name_utf8) : std::nullopt;
            if (!slot) {
                return messages::unexpected_keyword_argument(description, display_text(name));
            }
            if (*slot < description.positional_only_parameters) {
                positional_only_by_keyword.push_back(*name_utf8);
                continue;
            }
            if (slots[*slot] != nullptr) {
                return messages::multiple_values_for_argument(description, *name_utf8);
            }
            slots[*slot] = value;
        }
    }
    if (!positional_only_by_keyword.empty()) {
        return messages::positional_only_keyword_arguments(description, positional_only_by_keyword);
    }

    const std::size_t required = description.required_positional_parameters;
    if (given < required) {
        bool any_missing = false;
        for (std::size_t i = given; i < required; ++i) {
            any_missing = any_missing || slots[i] == nullptr;
        }
        if (any_missing) {
            std::vector<std::string_view> missing;
            for (std::size_t i = 0; i < required; ++i) {
                if (slots[i] == nullptr) {
                    missing.push_back(description.positional_parameter_names[i]);
                }
            }
            return messages::missing_required_positional_arguments(description, missing);
        }
    }

    std::vector<std::string_view> missing_keywords;
    for (std::size_t i = 0; i < description.keyword_only_parameters.size(); ++i) {
        const KeywordOnlyParameter& parameter = description.keyword_only_parameters[i];
        if (parameter.required && slots[positional_parameters + i] == nullptr) {
            missing_keywords.push_back(parameter.name);
        }
    }
    if (!missing_keywords.empty()) {
        return messages::missing_required_keyword_arguments(description, missing_keywords);
    }
    return std::nullopt;
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
