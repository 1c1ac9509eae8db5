// The module's message texts and the builders that fill them in.
#include "module/messages.hpp"

#include <initializer_list>
#include <string>
#include <variant>

namespace kestrava::module::messages {

namespace {

std::string concat(std::initializer_list<std::string_view> parts) {
    std::size_t length = 0;
    for (std::string_view part : parts) {
        length += part.size();
    }
    std::string text;
    text.reserve(length);
    for (std::string_view part : parts) {
        text += part;
    }
    return text;
}

// "get_cheapest_periods()", the prefix of every binding message.
std::string called_name(const FunctionDescription& description) { return concat({description.function_name, "()"}); }

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'": two names are joined by " and "; longer
// lists put a comma after every name but the last, and "and" before the last.
void push_parameter_list(std::string& message, std::span<const std::string_view> names) {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            if (names.size() > 2) {
                message += ",";
            }
            message += i + 1 == names.size() ? " and " : " ";
        }
        message += "'";
        message += names[i];
        message += "'";
    }
}

// A default as Python writes it.
std::string default_literal(const DefaultValue& value) {
    if (const auto* count = std::get_if<std::uint64_t>(&value)) {
        return std::to_string(*count);
    }
    if (const auto* flag = std::get_if<bool>(&value)) {
        return *flag ? "True" : "False";
    }
    return {};
}

}  // namespace

std::string internal_failure_report(std::uint64_t thread_id, std::string_view file, std::uint32_t line,
                                    std::string_view message) {
    return concat({"kestrava: internal failure in thread ", std::to_string(thread_id), " at ", file, ":",
                   std::to_string(line), ": ", message, "\n"});
}

std::string unprintable_named_object(std::string_view type_name) {
    return concat({"<unprintable ", type_name, " object>"});
}

std::string cannot_convert(std::string_view type_name, std::string_view target) {
    return concat({"'", type_name, "' object cannot be converted to '", target, "'"});
}

std::string no_bool_conversion(std::string_view type_display) {
    return concat({"object of type '", type_display, "' does not define a '__bool__' conversion"});
}

std::string argument_prefixed(std::string_view parameter_name, std::string_view text) {
    return concat({"argument '", parameter_name, "': ", text});
}

std::string too_many_positional_arguments(const FunctionDescription& description, std::size_t given) {
    const std::size_t total = description.parameters.size();
    const std::size_t required = description.required_parameters;
    const std::string range = required == total
                                  ? std::to_string(total)
                                  : concat({"from ", std::to_string(required), " to ", std::to_string(total)});
    return concat({called_name(description), " takes ", range, " positional arguments but ", std::to_string(given),
                   given == 1 ? " was given" : " were given"});
}

std::string unexpected_keyword_argument(const FunctionDescription& description, std::string_view name_text) {
    return concat({called_name(description), " got an unexpected keyword argument '", name_text, "'"});
}

std::string multiple_values_for_argument(const FunctionDescription& description, std::string_view name) {
    return concat({called_name(description), " got multiple values for argument '", name, "'"});
}

std::string missing_required_arguments(const FunctionDescription& description,
                                       std::span<const std::string_view> missing) {
    std::string message = concat({called_name(description), " missing ", std::to_string(missing.size()),
                                  " required positional ", missing.size() == 1 ? "argument: " : "arguments: "});
    push_parameter_list(message, missing);
    return message;
}

std::string text_signature(const FunctionDescription& description) {
    std::string signature = concat({description.function_name, "("});
    for (std::size_t i = 0; i < description.parameters.size(); ++i) {
        const Parameter& parameter = description.parameters[i];
        signature += i == 0 ? "" : ", ";
        signature += parameter.name;
        if (i >= description.required_parameters) {
            // Two appends: GCC 12 misreads `"=" + std::string` as an overlapping copy (-Wrestrict).
            signature += '=';
            signature += default_literal(parameter.default_value);
        }
    }
    signature += ")";
    return signature;
}

std::string selection_error_message(const Error& error) {
    switch (error.kind) {
        case ErrorKind::price_not_text:
            // Never shown: the call raises the element's own conversion error instead.
            return std::string(price_error_missing);
        case ErrorKind::invalid_price:
        case ErrorKind::invalid_threshold:
            return "Invalid decimal";
        case ErrorKind::prices_empty:
            return "prices cannot be empty";
        case ErrorKind::too_many_prices:
            return "prices cannot contain more than 28 items";
        case ErrorKind::min_selections_zero:
            return "min_selections must be greater than 0";
        case ErrorKind::min_selections_above_count:
            return "min_selections cannot be greater than total number of items";
        case ErrorKind::min_consecutive_zero:
            return "min_consecutive_periods must be greater than 0";
        case ErrorKind::min_consecutive_above_selections:
            return "min_consecutive_periods cannot be greater than min_selections";
        case ErrorKind::start_gap_above_gap:
            return "max_gap_from_start must be less than or equal to max_gap_between_periods";
        case ErrorKind::no_valid_combination:
            return concat({"No valid combination found that satisfies the constraints for ",
                           std::to_string(error.item_count), " items"});
        case ErrorKind::no_valid_main_combination:
            return concat({"No valid main combination found that satisfies the constraints for ",
                           std::to_string(error.item_count), " items"});
        case ErrorKind::interrupted:
            // Never shown: the call raises what the signal handler raised instead.
            return std::string(stop_error_missing);
        case ErrorKind::price_too_large:
        case ErrorKind::price_too_precise:
            break;  // only the entry for any number of periods limits digits
        default:
            break;  // the kinds of a plan's conditions: only the plan entry answers with them
    }
    return "unknown selection error";
}

}  // namespace kestrava::module::messages
