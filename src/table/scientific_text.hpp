// Writing a number in scientific notation ("1.5e-07", "-2e+16", as a float's repr
// gives it) as the plain decimal text the planner reads ("0.00000015",
// "-20000000000000000"). Plain C++: the digits are moved, never computed.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kestrava::table {

// The plain text of `text` when it reads [sign] digits [. digits] e|E [sign] digits,
// with at most max_exponent_digits exponent digits; nullopt for anything else.
// Allocates the result.
std::optional<std::string> plain_from_scientific(std::string_view text);

inline constexpr std::size_t max_exponent_digits = 4;

}  // namespace kestrava::table
