// The one place in src/ that holds a double: a float64 price's bits turned into the
// shortest text that reads back as the same float (std::to_chars), written as
// Python's repr writes it, and as the plain decimal the planner reads.
#include "table/float_text.hpp"

#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "table/scientific_text.hpp"

namespace kestrava::table {

namespace {

// repr writes a float with exponent e (of its first digit) plainly from 1e-4 up to
// below 1e16, and in scientific notation otherwise.
constexpr int smallest_plain_exponent = -4;
constexpr int largest_plain_exponent = 15;

struct Shortest {
    std::string scientific;  // "1.5e-07", as repr writes it outside the plain range
    int exponent = 0;
};

// Precondition: finite.
Shortest shortest(double value) {
    // 17 digits, a point, a sign, and "e-308" fit with room to spare.
    std::array<char, 40> buffer{};
    const std::to_chars_result written =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::scientific);
    Shortest result{std::string(buffer.data(), written.ptr), 0};
    const std::size_t e = result.scientific.find('e');
    result.exponent = std::atoi(result.scientific.c_str() + e + 1);
    return result;
}

bool in_plain_range(int exponent) {
    return exponent >= smallest_plain_exponent && exponent <= largest_plain_exponent;
}

}  // namespace

bool append_float_text(std::uint64_t bits, std::string& out) {
    const auto value = std::bit_cast<double>(bits);
    if (!std::isfinite(value)) return false;
    const Shortest text = shortest(value);
    const std::optional<std::string> plain = plain_from_scientific(text.scientific);
    out += *plain;
    // repr's plain form always shows a point: 100.0 has one decimal.
    if (in_plain_range(text.exponent) && plain->find('.') == std::string::npos) out += ".0";
    return true;
}

std::string float_repr(std::uint64_t bits) {
    const auto value = std::bit_cast<double>(bits);
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    const Shortest text = shortest(value);
    if (!in_plain_range(text.exponent)) return text.scientific;
    std::string repr;
    append_float_text(bits, repr);
    return repr;
}

}  // namespace kestrava::table
