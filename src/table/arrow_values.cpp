// The texts of arrow_values.hpp.
#include "table/arrow_values.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <string_view>

namespace kestrava::table {

namespace {

constexpr int most_words = 4;
// 10^19 is the largest power of ten below 2^64: each division yields 19 digits.
constexpr std::uint64_t ten_to_19 = 10'000'000'000'000'000'000ULL;

// Divides the magnitude (least significant word first) by 10^19 in place and
// answers the remainder.
std::uint64_t divide_by_ten_to_19(std::array<std::uint64_t, most_words>& words, int count) {
    unsigned __int128 remainder = 0;
    for (int i = count - 1; i >= 0; --i) {
        const unsigned __int128 value = (remainder << 64) | words[static_cast<std::size_t>(i)];
        words[static_cast<std::size_t>(i)] = static_cast<std::uint64_t>(value / ten_to_19);
        remainder = value % ten_to_19;
    }
    return static_cast<std::uint64_t>(remainder);
}

bool is_zero(const std::array<std::uint64_t, most_words>& words, int count) {
    return std::all_of(words.begin(), words.begin() + count, [](std::uint64_t word) { return word == 0; });
}

// Two's complement negation, in place.
void negate(std::array<std::uint64_t, most_words>& words, int count) {
    std::uint64_t carry = 1;
    for (int i = 0; i < count; ++i) {
        const std::uint64_t inverted = ~words[static_cast<std::size_t>(i)];
        words[static_cast<std::size_t>(i)] = inverted + carry;
        carry = carry != 0 && words[static_cast<std::size_t>(i)] == 0 ? 1 : 0;
    }
}

// 2^256 has 78 digits.
using DigitBuffer = std::array<char, 80>;

// Writes the digits of the magnitude at the end of `buffer` (no leading zeros, "0"
// for zero) and answers where they start.
std::size_t magnitude_digits(std::array<std::uint64_t, most_words> words, int count, DigitBuffer& buffer) {
    std::size_t start = buffer.size();
    do {
        std::uint64_t chunk = divide_by_ten_to_19(words, count);
        const bool last = is_zero(words, count);
        for (int d = 0; d < 19 && (!last || chunk != 0 || d == 0); ++d) {
            buffer[--start] = static_cast<char>('0' + chunk % 10);
            chunk /= 10;
        }
    } while (!is_zero(words, count));
    return start;
}

// The digits of a magnitude with `scale` of them after the point, signed.
void append_scaled(bool negative, std::string_view digits, std::int32_t scale, std::string& out) {
    const bool zero = digits == "0";
    if (negative && !zero) out += '-';
    if (scale <= 0) {
        out += digits;
        if (!zero) out.append(static_cast<std::size_t>(-scale), '0');
        return;
    }
    const auto decimals = static_cast<std::size_t>(scale);
    const std::size_t whole = digits.size() > decimals ? digits.size() - decimals : 0;
    if (whole == 0) out += '0';
    out.append(digits.substr(0, whole));
    out += '.';
    out.append(decimals - (digits.size() - whole), '0');
    out.append(digits.substr(whole));
}

// Whether every word above the lowest only extends its sign: the value fits 64 bits.
bool fits_one_word(const std::array<std::uint64_t, most_words>& words, int count) {
    const std::uint64_t extension = (words[0] >> 63) != 0 ? ~std::uint64_t{0} : 0;
    return std::all_of(words.begin() + 1, words.begin() + count, [&](std::uint64_t word) { return word == extension; });
}

// The largest scale of a decimal256: a small value's text then fits one buffer.
constexpr std::int32_t most_small_scale = 76;

// A 64-bit magnitude at `scale` (0 to most_small_scale) written into one buffer from
// its last digit and appended at once: piece by piece, the calls cost more than the digits.
void append_small_decimal(bool negative, std::uint64_t magnitude, std::int32_t scale, std::string& out) {
    // 20 digits, or a point after `scale` of them, then "0" before it, and a sign.
    std::array<char, 24 + most_small_scale> text;  // left unset: only what is written is read
    char* const end = text.data() + text.size();
    char* first = end;
    const bool zero = magnitude == 0;
    std::int32_t written = 0;
    do {
        *--first = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
        if (++written == scale) *--first = '.';
    } while (magnitude != 0 || written < scale);
    if (*first == '.') *--first = '0';
    if (negative && !zero) *--first = '-';
    out.append(first, static_cast<std::size_t>(end - first));
}

}  // namespace

ListItems list_items(const ArrowArrayView& list, std::int64_t index) noexcept {
    const std::int64_t at = list.offset + index;
    const ArrowBufferView& offsets = list.buffer_views[1];
    switch (list.storage_type) {
        case NANOARROW_TYPE_LIST:
            return {offsets.data.as_int32[at], offsets.data.as_int32[at + 1] - offsets.data.as_int32[at]};
        case NANOARROW_TYPE_LARGE_LIST:
            return {offsets.data.as_int64[at], offsets.data.as_int64[at + 1] - offsets.data.as_int64[at]};
        case NANOARROW_TYPE_LIST_VIEW:
            return {offsets.data.as_int32[at], list.buffer_views[2].data.as_int32[at]};
        default:
            return {offsets.data.as_int64[at], list.buffer_views[2].data.as_int64[at]};
    }
}

void append_decimal_text(const std::uint8_t* bytes, int byte_count, std::int32_t scale, std::string& out) {
    const int count = byte_count / 8;
    std::array<std::uint64_t, most_words> words{};
    // Constant sizes, so that each copy is a few moves rather than a call.
    if (byte_count == 16) {
        std::memcpy(words.data(), bytes, 16);
    } else {
        std::memcpy(words.data(), bytes, 32);
    }
    const bool negative = (words[static_cast<std::size_t>(count - 1)] >> 63) != 0;
    if (scale >= 0 && scale <= most_small_scale && fits_one_word(words, count)) {
        // Most prices are this small: one 64-bit conversion instead of 128-bit divisions.
        append_small_decimal(negative, negative ? std::uint64_t{0} - words[0] : words[0], scale, out);
        return;
    }
    if (negative) negate(words, count);
    DigitBuffer buffer;
    const std::size_t start = magnitude_digits(words, count, buffer);
    append_scaled(negative, std::string_view(buffer.data() + start, buffer.size() - start), scale, out);
}

void append_integer_text(std::int64_t value, std::string& out) {
    std::array<char, 24> buffer{};
    const std::to_chars_result written = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    out.append(buffer.data(), written.ptr);
}

void append_unsigned_text(std::uint64_t value, std::string& out) {
    std::array<char, 24> buffer{};
    const std::to_chars_result written = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    out.append(buffer.data(), written.ptr);
}

}  // namespace kestrava::table
