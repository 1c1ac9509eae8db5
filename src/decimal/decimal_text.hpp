// The grammar of decimal text, read byte by byte, left to right: an optional sign as
// the first byte, digits with at most one point, and underscores (ignored) anywhere
// after the first digit. Decimal::parse (which rounds to 96 bits and 28 decimals) and
// the planner's exact prices (which keep every digit) both read their texts through
// it, so the two can never disagree on what a decimal text is.
#pragma once

#include <string_view>

namespace kestrava {

enum class DigitStep {
    next,  // go on with the next byte
    stop,  // the caller has what it needs: no byte after this digit is read
};

enum class TextForm {
    malformed,  // the text breaks the grammar (or holds no digit)
    complete,   // every byte was read and the text is well-formed
    stopped,    // a digit's callback stopped the reading; the bytes before it were well-formed
};

struct LexedText {
    TextForm form = TextForm::malformed;
    bool negative = false;
};

// Calls on_digit(digit, after_point) for each digit in order (digit 0 .. 9; after_point
// when the text's point came before it). on_digit returns a DigitStep. Does not allocate.
template <class OnDigit>
constexpr LexedText lex_decimal_text(std::string_view text, OnDigit&& on_digit) noexcept(noexcept(on_digit(0U, false))) {
    LexedText lexed;
    std::size_t i = 0;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        lexed.negative = text[0] == '-';
        i = 1;
    }
    bool seen_digit = false;
    bool seen_point = false;
    for (; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= '0' && byte <= '9') {
            seen_digit = true;
            if (on_digit(static_cast<unsigned>(byte - '0'), seen_point) == DigitStep::stop) {
                lexed.form = TextForm::stopped;
                return lexed;
            }
        } else if (byte == '.' && !seen_point) {
            seen_point = true;
        } else if (byte != '_' || !seen_digit) {
            return lexed;
        }
    }
    lexed.form = seen_digit ? TextForm::complete : TextForm::malformed;
    return lexed;
}

}  // namespace kestrava
