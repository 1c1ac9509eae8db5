// utf8_view: the UTF-8 bytes of a str, read where the interpreter keeps them.
#pragma once

#include "binding/python_include.hpp"

#include <cstddef>
#include <optional>
#include <string_view>

namespace kestrava {

// The UTF-8 bytes that a str object caches, borrowed from it; nullopt when it cannot be
// encoded (lone surrogates), the interpreter's exception then left set. Runs no Python code.
inline std::optional<std::string_view> utf8_view(PyObject* str_object) noexcept {
    // Compact ASCII text is its own UTF-8 form, the bytes PyUnicode_AsUTF8AndSize would
    // hand out: read them in place, as prices almost always are.
    if (PyUnicode_IS_COMPACT_ASCII(str_object)) {
        return std::string_view(static_cast<const char*>(PyUnicode_DATA(str_object)),
                                static_cast<std::size_t>(PyUnicode_GET_LENGTH(str_object)));
    }
    Py_ssize_t length = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(str_object, &length);
    if (utf8 == nullptr) {
        return std::nullopt;
    }
    return std::string_view(utf8, static_cast<std::size_t>(length));
}

}  // namespace kestrava
