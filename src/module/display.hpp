// How objects and types are shown inside messages: the display rule (an object's str as
// UTF-8, taken leniently) and the type-name rule (a type's qualified name).
#pragma once

#include "binding/python_include.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace kestrava::module {

// The UTF-8 text of a str object. A str that cannot be encoded (lone surrogates) is
// encoded with "surrogatepass" and decoded with "replace", so each ill-formed part
// shows as U+FFFD. Throws InternalFailure only when the interpreter cannot encode or
// decode at all (out of memory).
std::string utf8_text_lenient(PyObject* str_object);

// str(object) as UTF-8, taken leniently; nullopt when str() fails, its exception left set.
std::optional<std::string> str_text(PyObject* object);

// The display rule: str(object) as UTF-8, taken leniently. When str() fails, the failure
// is reported with PyErr_WriteUnraisable(object) and the text is
// "<unprintable {type name} object>", or "<unprintable object>" without a name.
std::string display_text(PyObject* object);

// The type-name rule: the type's qualified name as UTF-8, or
// "<failed to extract type name>". Leaves no exception set.
std::string type_name_text(PyTypeObject* type);

}  // namespace kestrava::module
