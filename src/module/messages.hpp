// Every text the module shows: exception messages (binding, conversion, selection,
// module set-up, internal failures) and the lines it writes to standard error.
// Builders that make an error return it deferred; the others return the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "module/function_description.hpp"
#include "module/python_error.hpp"
#include "selection/result.hpp"

namespace kestrava::module::messages {

// Module set-up and the interpreter's exceptions.
inline constexpr std::string_view module_doc =
    "A Python module implemented in C++ that chooses the cheapest periods to run a flexible load.";
inline constexpr std::string_view subinterpreters_unsupported =
    "kestrava does not yet support subinterpreters";
inline constexpr std::string_view no_exception_set = "attempted to fetch exception but none was set";

// Internal failures.
inline constexpr std::string_view python_api_call_failed = "Python API call failed";
inline constexpr std::string_view could_not_append_to_all = "could not append __name__ to __all__";
inline constexpr std::string_view unwrapped_panic = "Unwrapped panic from Python code";
inline constexpr std::string_view exception_type_not_created = "Failed to initialize new exception type.";
inline constexpr std::string_view price_error_missing = "a price element gave no text and no error";

// Lines on standard error.
inline constexpr std::string_view resuming_panic_line =
    "kestrava: resuming an internal failure after a PanicException was fetched from the interpreter\n";
inline constexpr std::string_view python_stack_trace_line = "Python stack trace below:\n";
inline constexpr std::string_view uncaught_panic_line = "uncaught panic at ffi boundary\n";
// printf format with the size in bytes; kept free of allocation for the out-of-memory path.
inline constexpr const char* allocation_failed_format = "memory allocation of %zu bytes failed\n";
inline constexpr std::string_view allocation_of_unknown_size_failed_line =
    "memory allocation of an unknown number of bytes failed\n";
std::string internal_failure_report(std::uint64_t thread_id, std::string_view file, std::uint32_t line,
                                    std::string_view message);

// Texts of the display and type-name rules.
inline constexpr std::string_view type_name_unavailable = "<failed to extract type name>";
inline constexpr std::string_view unprintable_object = "<unprintable object>";
std::string unprintable_named_object(std::string_view type_name);

// Conversion failures ({type} by the type-name rule, or the type shown for __bool__).
PythonError cannot_convert(std::string_view type_name, std::string_view target);  // target: "PyList", ...
PythonError no_bool_conversion(std::string_view type_display);
// The text of a conversion failure once it is tied to its argument.
std::string argument_prefixed(std::string_view parameter_name, std::string_view text);

// Argument binding failures: deferred TypeErrors built from the description.
std::string full_name(const FunctionDescription& description);
void push_parameter_list(std::string& message, std::span<const std::string_view> names);
PythonError too_many_positional_arguments(const FunctionDescription& description, std::size_t given);
PythonError unexpected_keyword_argument(const FunctionDescription& description, std::string_view name_text);
PythonError multiple_values_for_argument(const FunctionDescription& description, std::string_view name);
PythonError missing_required_positional_arguments(const FunctionDescription& description,
                                                  std::span<const std::string_view> missing);
PythonError missing_required_keyword_arguments(const FunctionDescription& description,
                                               std::span<const std::string_view> missing);
PythonError positional_only_keyword_arguments(const FunctionDescription& description,
                                              std::span<const std::string_view> names);

// The ValueError message of a selection error (not price_not_text, which keeps the
// element's own error).
std::string selection_error_message(const SelectionError& error);

}  // namespace kestrava::module::messages
