// The decimal a float64 price means: the shortest text that reads back as the same
// float, as Python's repr writes it. float_text.cpp is the one file of src/ that holds
// a floating-point value; everything else passes a float around as its 64 bits.
#pragma once

#include <cstdint>
#include <string>

namespace kestrava::table {

// Appends the plain decimal text of the float with these bits ("0.1", "1e-07" as
// "0.0000001", "1e+16" as "10000000000000000"), as format(Decimal(repr(x)), "f")
// writes it, and answers true; answers false, appending nothing, for NaN and the
// infinities.
bool append_float_text(std::uint64_t bits, std::string& out);

// repr(x) of the float with these bits: "0.1", "1e-07", "100.0", "nan", "-inf".
std::string float_repr(std::uint64_t bits);

}  // namespace kestrava::table
