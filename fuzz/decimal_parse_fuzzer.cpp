// libFuzzer harness for Decimal::parse: any bytes are a text, and the parser must
// agree with the unbounded reference reading of the grammar (decimal_text_model.hpp)
// on acceptance and on the exact representation (sign, coefficient, scale).
//
// Each input is checked twice: as it stands (any bytes, most of them rejected early)
// and mapped byte by byte onto the grammar's own alphabet, which reaches long
// digit runs, rounding positions and the 96-bit bound far more often.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "decimal/decimal.hpp"
#include "decimal_text_model.hpp"

namespace {

using kestrava::Decimal;
using kestrava_fuzz::model_parse;
using kestrava_fuzz::ModelDecimal;

[[noreturn]] void mismatch(std::string_view text, const char* what) {
    std::fprintf(stderr, "decimal parse mismatch (%s) on %zu bytes: \"", what, text.size());
    for (const char byte : text) {
        const auto value = static_cast<unsigned char>(byte);
        if (value >= 0x20 && value < 0x7F && value != '"' && value != '\\') {
            std::fputc(value, stderr);
        } else {
            std::fprintf(stderr, "\\x%02x", value);
        }
    }
    std::fputs("\"\n", stderr);
    std::abort();
}

bool same_representation(const Decimal& parsed, const ModelDecimal& expected) {
    const auto coefficient = expected.coefficient.to_u128();
    return coefficient && parsed.coefficient() == *coefficient && parsed.scale() == expected.scale &&
           parsed.is_negative() == expected.negative;
}

void check(std::string_view text) {
    const std::optional<Decimal> parsed = Decimal::parse(text);
    const std::optional<ModelDecimal> expected = model_parse(text);
    if (parsed.has_value() != expected.has_value()) {
        mismatch(text, parsed ? "accepted, the grammar rejects" : "rejected, the grammar accepts");
    }
    if (!parsed) return;
    if (!same_representation(*parsed, *expected)) mismatch(text, "different value or scale");
    if (parsed->coefficient() > Decimal::max_coefficient || parsed->scale() > Decimal::max_scale) {
        mismatch(text, "representation out of range");
    }
    if (parsed->is_zero() && parsed->is_negative()) mismatch(text, "negative zero");

    // The plain text of a representation reads back as that very representation.
    const std::string shown = parsed->to_string();
    const std::optional<Decimal> again = Decimal::parse(shown);
    if (!again || again->coefficient() != parsed->coefficient() || again->scale() != parsed->scale() ||
        again->is_negative() != parsed->is_negative()) {
        mismatch(text, "to_string does not read back");
    }
    if (compare(*again, *parsed) != 0) mismatch(text, "a value does not compare equal to itself");
}

// The grammar's alphabet, digits weighted up; a sign past the first byte is a
// rejection the mapping still produces now and then.
constexpr std::string_view grammar_alphabet = "0123456789.__-+0123456789999000";

// The text in a buffer of exactly its size (no terminator, no spare capacity), so
// that a read one byte past its end is caught by the address sanitizer.
class ExactText {
public:
    template <class MapByte>
    ExactText(const std::uint8_t* data, std::size_t size, MapByte map_byte)
        : bytes_(new char[size == 0 ? 1 : size]), size_(size) {
        for (std::size_t i = 0; i < size; ++i) bytes_[i] = map_byte(data[i]);
    }
    std::string_view view() const noexcept { return {bytes_.get(), size_}; }

private:
    std::unique_ptr<char[]> bytes_;
    std::size_t size_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    check(ExactText(data, size, [](std::uint8_t byte) { return static_cast<char>(byte); }).view());
    check(ExactText(data, size, [](std::uint8_t byte) {
              return grammar_alphabet[byte % grammar_alphabet.size()];
          }).view());
    return 0;
}
