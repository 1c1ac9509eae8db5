// The kept reading of price_reading.hpp.
#include "selection/planner/price_reading.hpp"

#include <cstring>

namespace kestrava::planner {

const ShortPrices* PriceReading::read(std::span<const std::string_view> texts, std::string_view threshold) {
    if (!held_ || !holds(texts)) {
        held_ = read_short_price_texts(texts, prices_);
        if (held_) keep(texts);
    }
    return held_ && read_short_threshold(threshold, prices_) ? &prices_ : nullptr;
}

// Text for text: the same bytes split otherwise are other prices. A table's texts lie
// one after another in its buffer, and then one comparison covers them all.
bool PriceReading::holds(std::span<const std::string_view> texts) const noexcept {
    if (texts.size() != ends_.size()) return false;
    std::size_t start = 0;
    bool adjoining = true;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (ends_[i] - start != texts[i].size()) return false;
        adjoining = adjoining && (i == 0 || texts[i - 1].data() + texts[i - 1].size() == texts[i].data());
        start = ends_[i];
    }
    if (texts_.empty()) return true;
    if (adjoining) return std::memcmp(texts_.data(), texts[0].data(), texts_.size()) == 0;
    start = 0;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (std::string_view(texts_).substr(start, texts[i].size()) != texts[i]) return false;
        start = ends_[i];
    }
    return true;
}

void PriceReading::keep(std::span<const std::string_view> texts) {
    texts_.clear();
    ends_.clear();
    for (const std::string_view text : texts) {
        texts_.append(text);
        ends_.push_back(texts_.size());
    }
}

}  // namespace kestrava::planner
