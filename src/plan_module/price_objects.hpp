// The prices and the threshold as Python objects of the types people have (decimal
// texts, ints, Decimals, floats; in a list, tuple, numpy array, pandas Series or any
// iterable) turned into the decimal texts the planner reads, exactly: an int as its
// digits, a Decimal written out without exponent, a float as the decimal its repr
// shows. Runs with the interpreter lock held; every failure raises a TypeError or
// ValueError that names the argument, the price's index and the value.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include <nanobind/nanobind.h>

namespace kestrava::plan_module {

namespace nb = nanobind;

// A Decimal whose plain text would be longer than this is refused: far beyond the
// 140 digits the planner can use, and it keeps Decimal("1E+999999999") from asking
// for a gigabyte.
inline constexpr std::size_t longest_written_out_decimal = 10000;

// Texts that stay valid while this object lives, whatever other threads do to the
// caller's containers meanwhile: the prices are copied into a tuple of their own and
// every text is held by a str of its own.
struct PriceTexts {
    nb::tuple prices;                 // the caller's price objects, for messages
    std::vector<nb::object> holders;  // one str per price, owning the text
    std::vector<std::string_view> texts;
};

// Reads `prices` (see price_sequence.hpp for the container), refusing an empty one,
// then each price in turn.
PriceTexts read_prices(nb::handle prices, std::size_t most_prices);

// The threshold's text, held by the returned str.
nb::object read_threshold(nb::handle threshold);

// The UTF-8 text of a str that read_prices or read_threshold made or kept.
std::string_view text_of(nb::handle text);

// A value as messages show it: a float by its repr (never numpy's), anything else by
// repr(), cut short when long.
std::string shown(nb::handle value);

}  // namespace kestrava::plan_module
