// Single values of Arrow arrays: where a list row's items lie, and a value written as
// the decimal text the planner reads: a decimal128 or decimal256 at its scale ("1.50"
// for 150 at scale 2), an integer as its digits. Plain C++; appends to the caller's
// buffer, which allocates only when it grows.
#pragma once

#include <cstdint>
#include <string>

#include <nanoarrow/nanoarrow.h>

namespace kestrava::table {

// Where a list row's items lie in its child: start and count.
struct ListItems {
    std::int64_t start = 0;
    std::int64_t count = 0;
};
ListItems list_items(const ArrowArrayView& list, std::int64_t index) noexcept;

// `bytes` holds the two's-complement value, 16 or 32 bytes little-endian as Arrow
// stores it; `scale` digits of it lie after the point (a negative scale appends zeros).
void append_decimal_text(const std::uint8_t* bytes, int byte_count, std::int32_t scale, std::string& out);

void append_integer_text(std::int64_t value, std::string& out);
void append_unsigned_text(std::uint64_t value, std::string& out);

}  // namespace kestrava::table
