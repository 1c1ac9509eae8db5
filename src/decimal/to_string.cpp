// Decimal::to_string: the plain text of a representation, every scale digit shown.
#include <string>

#include "decimal/decimal.hpp"

namespace kestrava {

std::string Decimal::to_string() const {
    // 2^96 - 1 has 29 digits; a scale of 28 behind a zero integer part needs 29 too.
    char digits[Decimal::max_scale + 2];
    unsigned count = 0;
    uint128 rest = coefficient();
    do {
        digits[count++] = static_cast<char>('0' + static_cast<unsigned>(rest % 10));
        rest /= 10;
    } while (rest != 0);
    while (count <= scale()) digits[count++] = '0';  // leading zeros up to "0.000..."

    std::string text;
    text.reserve(count + 2);
    if (is_negative()) text.push_back('-');
    for (unsigned i = count; i-- > 0;) {
        text.push_back(digits[i]);
        if (i == scale() && i != 0) text.push_back('.');
    }
    return text;
}

}  // namespace kestrava
