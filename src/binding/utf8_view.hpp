// utf8_view: the UTF-8 bytes of a str, read where the interpreter keeps them.
#pragma once

#include "binding/python_include.hpp"

#include <cstddef>
#include <optional>
#include <string_view>

namespace kestrava {

// The UTF-8 bytes that a str object caches, borrowed from it; nullopt when it cannot be
// encoded (lone surrogates), the interpreter's exception then left set. Runs no Python
// code. ASCII text is handed out in place, with no copy.
inline std::optional<std::string_view> utf8_view(PyObject* str_object) noexcept {
    Py_ssize_t length = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(str_object, &length);
    if (utf8 == nullptr) {
        return std::nullopt;
    }
    return std::string_view(utf8, static_cast<std::size_t>(length));
}

}  // namespace kestrava
