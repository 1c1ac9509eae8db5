// The digit moving of scientific_text.hpp.
#include "table/scientific_text.hpp"

#include <cstddef>

namespace kestrava::table {

namespace {

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

struct Scientific {
    bool negative = false;
    std::string digits;        // every mantissa digit, the point left out
    std::ptrdiff_t point = 0;  // how many of the digits stand before the point
};

// Reads the exponent ([sign] 1 to max_exponent_digits digits) into `exponent`.
bool read_exponent(std::string_view text, std::ptrdiff_t& exponent) noexcept {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > max_exponent_digits) return false;
    exponent = 0;
    for (const char c : text) {
        if (!is_digit(c)) return false;
        exponent = exponent * 10 + (c - '0');
    }
    if (negative) exponent = -exponent;
    return true;
}

std::optional<Scientific> read_mantissa(std::string_view text) {
    Scientific number;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        number.negative = text.front() == '-';
        text.remove_prefix(1);
    }
    bool seen_point = false;
    for (const char c : text) {
        if (c == '.' && !seen_point) {
            seen_point = true;
            number.point = static_cast<std::ptrdiff_t>(number.digits.size());
        } else if (is_digit(c)) {
            number.digits += c;
        } else {
            return std::nullopt;
        }
    }
    if (number.digits.empty()) return std::nullopt;
    if (!seen_point) number.point = static_cast<std::ptrdiff_t>(number.digits.size());
    return number;
}

}  // namespace

std::optional<std::string> plain_from_scientific(std::string_view text) {
    const std::size_t marker = text.find_first_of("eE");
    if (marker == std::string_view::npos) return std::nullopt;
    std::ptrdiff_t exponent = 0;
    std::optional<Scientific> number = read_mantissa(text.substr(0, marker));
    if (!number || !read_exponent(text.substr(marker + 1), exponent)) return std::nullopt;

    // The point moves by the exponent; zeros fill in on whichever side it leaves the digits.
    const std::ptrdiff_t point = number->point + exponent;
    const auto count = static_cast<std::ptrdiff_t>(number->digits.size());
    std::string plain = number->negative ? "-" : "";
    if (point <= 0) {
        plain += "0.";
        plain.append(static_cast<std::size_t>(-point), '0');
        plain += number->digits;
    } else if (point >= count) {
        plain += number->digits;
        plain.append(static_cast<std::size_t>(point - count), '0');
    } else {
        plain.append(number->digits, 0, static_cast<std::size_t>(point));
        plain += '.';
        plain.append(number->digits, static_cast<std::size_t>(point), std::string::npos);
    }
    return plain;
}

}  // namespace kestrava::table
