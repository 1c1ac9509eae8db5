// Lenient UTF-8 decoding with one U+FFFD per maximal ill-formed subpart.
#include "module/utf8_lenient.hpp"

#include <cstddef>
#include <cstdint>

namespace kestrava::module {

namespace {

constexpr std::string_view replacement_character = "\xEF\xBF\xBD";

// What a lead byte promises: the length of its sequence and the range allowed for the
// second byte (later bytes are always 80..BF). The narrowed second-byte ranges exclude
// overlong forms (E0, F0), surrogates (ED) and code points above U+10FFFF (F4).
struct LeadByte {
    std::size_t length;  // 0: not a lead byte
    std::uint8_t second_low;
    std::uint8_t second_high;
};

constexpr LeadByte classify(std::uint8_t lead) noexcept {
    if (lead < 0x80) return {1, 0, 0};
    if (lead < 0xC2) return {0, 0, 0};  // continuation byte or overlong two-byte lead
    if (lead < 0xE0) return {2, 0x80, 0xBF};
    if (lead == 0xE0) return {3, 0xA0, 0xBF};
    if (lead == 0xED) return {3, 0x80, 0x9F};
    if (lead < 0xF0) return {3, 0x80, 0xBF};
    if (lead == 0xF0) return {4, 0x90, 0xBF};
    if (lead < 0xF4) return {4, 0x80, 0xBF};
    if (lead == 0xF4) return {4, 0x80, 0x8F};
    return {0, 0, 0};
}

}  // namespace

std::string decode_utf8_lenient(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    std::size_t position = 0;
    while (position < bytes.size()) {
        const auto lead = static_cast<std::uint8_t>(bytes[position]);
        const LeadByte expected = classify(lead);
        if (expected.length == 0) {
            text += replacement_character;
            ++position;
            continue;
        }
        // Count how many bytes of the promised sequence are actually there.
        std::size_t valid = 1;
        while (valid < expected.length && position + valid < bytes.size()) {
            const auto next = static_cast<std::uint8_t>(bytes[position + valid]);
            const std::uint8_t low = valid == 1 ? expected.second_low : std::uint8_t{0x80};
            const std::uint8_t high = valid == 1 ? expected.second_high : std::uint8_t{0xBF};
            if (next < low || next > high) {
                break;
            }
            ++valid;
        }
        if (valid == expected.length) {
            text.append(bytes.substr(position, valid));
        } else {
            // The lead and the continuation bytes that fitted form one maximal subpart;
            // the byte that broke the sequence is examined afresh.
            text += replacement_character;
        }
        position += valid;
    }
    return text;
}

}  // namespace kestrava::module
