// The kept reading of price_reading.hpp.
#include "selection/prices/price_reading.hpp"

#include <algorithm>
#include <cstring>

namespace kestrava::planner {

std::optional<Error> PriceReading::read(std::span<const std::string_view> texts, std::string_view threshold) {
    if (!held_ || !holds(texts)) {
        // Held only once kept whole: a failed allocation leaves nothing to compare with.
        held_ = false;
        words_held_ = false;
        if (read_price_words(texts, units_)) {
            keep(texts);
            held_ = true;
        }
    }
    if (held_ && read_word_threshold(threshold, units_)) return std::nullopt;
    return read_price_digits(texts, threshold, units_);
}

std::optional<Error> PriceReading::read_words(std::span<const std::int64_t> units, unsigned scale,
                                              std::string_view threshold) {
    const bool same = words_held_ && words_scale_ == scale && words_.size() == units.size() &&
                      std::equal(units.begin(), units.end(), words_.begin());
    if (!same) {
        held_ = false;
        words_held_ = false;
        read_unit_words(units, scale, units_);
        words_.assign(units.begin(), units.end());
        words_scale_ = scale;
        words_held_ = true;
    }
    if (read_word_threshold(threshold, units_)) return std::nullopt;
    // A threshold words do not take (or no decimal text at all): the exact reader
    // compares it, or names it, against the prices written out.
    write_word_texts(units_, word_texts_, word_views_);
    return read_price_digits(word_views_, threshold, units_);
}

namespace {

// Whether each text starts where the one before it ends, as in a table's buffer.
bool adjoin(std::span<const std::string_view> texts) noexcept {
    for (std::size_t i = 1; i < texts.size(); ++i) {
        if (texts[i - 1].data() + texts[i - 1].size() != texts[i].data()) return false;
    }
    return true;
}

}  // namespace

// Text for text: the same bytes split otherwise are other prices. Texts that adjoin
// are compared, and kept, in one piece.
bool PriceReading::holds(std::span<const std::string_view> texts) const noexcept {
    if (texts.size() != ends_.size()) return false;
    if (texts.empty()) return true;
    // Other prices nearly always differ in the first: a quick answer for them.
    if (std::string_view(texts_.data(), ends_[0]) != texts[0]) return false;
    // One pass over the lengths, which also sees whether the texts adjoin.
    const char* const first = texts[0].data();
    bool adjoining = true;
    std::size_t start = 0;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (ends_[i] - start != texts[i].size()) return false;
        adjoining &= texts[i].data() == first + start;
        start = ends_[i];
    }
    if (texts_.empty()) return true;
    if (adjoining) return std::memcmp(texts_.data(), first, texts_.size()) == 0;
    start = 0;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (std::string_view(texts_).substr(start, texts[i].size()) != texts[i]) return false;
        start = ends_[i];
    }
    return true;
}

void PriceReading::keep(std::span<const std::string_view> texts) {
    ends_.resize(texts.size());
    std::size_t end = 0;
    for (std::size_t i = 0; i < texts.size(); ++i) ends_[i] = end += texts[i].size();
    if (end > 0 && adjoin(texts)) {
        texts_.assign(texts[0].data(), end);
        return;
    }
    texts_.clear();
    for (const std::string_view text : texts) texts_.append(text);
}

}  // namespace kestrava::planner
