// Every text the module shows: the docstrings, exception messages (binding, conversion,
// selection, module set-up, internal failures) and the lines it writes to standard error.
// Texts only: the callers decide which exception carries them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "module/function_description.hpp"
#include "selection/outcome.hpp"

namespace kestrava::module::messages {

// Module set-up and the interpreter's exceptions.
inline constexpr std::string_view module_doc =
    "A Python module implemented in C++ that chooses the cheapest periods to run a flexible load.";
// get_cheapest_periods's docstring after its signature line (see text_signature).
inline constexpr std::string_view get_cheapest_periods_doc_text =
    "Find the cheapest periods in a sequence of prices\n"
    "\n"
    "This algorithm selects periods (indices) from a price sequence to minimize cost\n"
    "while satisfying various timing constraints. The algorithm prioritizes periods\n"
    "with prices at or below the threshold, but still respects all constraints.\n"
    "\n"
    "# Parameters\n"
    "- `prices`: Sequence of prices for each period\n"
    "- `low_price_threshold`: Price threshold below/equal to which periods are preferentially selected\n"
    "- `min_selections`: Desired minimum number of periods to select (will be incremented if no valid solution found)\n"
    "- `min_consecutive_periods`: Minimum consecutive periods required for each consecutive block\n"
    "- `max_gap_between_periods`: Maximum gap allowed between selected periods\n"
    "- `max_gap_from_start`: Maximum gap from start before first selection\n"
    "- `aggressive`: Whether to use aggressive (cost-minimizing) or conservative (cheap-item-maximizing) strategy\n"
    "\n"
    "# Algorithm\n"
    "1. Find cheapest main combination that meets constraints (with adaptive min_selections retry)\n"
    "2. Try adding cheap items to that combination, validating each merge\n"
    "3. Return the cheapest valid combination of main+cheap items\n"
    "\n"
    "# Important Notes\n"
    "- `min_consecutive_periods` is enforced as a minimum for each consecutive block\n"
    "- The algorithm adaptively increases `min_selections` if no valid solution is found\n"
    "\n"
    "# Returns\n"
    "List of indices representing selected periods, sorted by index";
inline constexpr std::string_view subinterpreters_unsupported = "kestrava does not yet support subinterpreters";
inline constexpr std::string_view no_exception_set = "attempted to fetch exception but none was set";

// Internal failures.
inline constexpr std::string_view could_not_append_to_all = "could not append __name__ to __all__";
inline constexpr std::string_view unwrapped_panic = "Unwrapped panic from Python code";
inline constexpr std::string_view price_error_missing = "a price element gave no text and no error";
inline constexpr std::string_view stop_error_missing = "the search was stopped and no error was set";
inline constexpr std::string_view omitted_without_default = "an argument without a default of its type was omitted";

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

// Conversion failures (TypeErrors; {type} by the type-name rule, or the type shown for __bool__).
std::string cannot_convert(std::string_view type_name, std::string_view target);  // target: "PyList", ...
std::string no_bool_conversion(std::string_view type_display);
// The text of a conversion failure once it is tied to its argument.
std::string argument_prefixed(std::string_view parameter_name, std::string_view text);

// Argument binding failures (TypeErrors), built from the description.
std::string too_many_positional_arguments(const FunctionDescription& description, std::size_t given);
std::string unexpected_keyword_argument(const FunctionDescription& description, std::string_view name_text);
std::string multiple_values_for_argument(const FunctionDescription& description, std::string_view name);
std::string missing_required_arguments(const FunctionDescription& description,
                                       std::span<const std::string_view> missing);

// The signature line that opens the docstring:
// "name(a, b, c=0, flag=True)", the defaults written as Python literals.
std::string text_signature(const FunctionDescription& description);

// The ValueError message of a selection error (not price_not_text, which keeps the
// element's own error, nor interrupted, which keeps the signal handler's).
std::string selection_error_message(const Error& error);

}  // namespace kestrava::module::messages
