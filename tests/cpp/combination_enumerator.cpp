// CombinationEnumerator: advances the position tuple in lexicographic order.
#include "combination_enumerator.hpp"

namespace kestrava::exhaustive {

CombinationEnumerator::CombinationEnumerator(std::span<const Item> list, std::size_t k)
    : list_(list), positions_(k), combination_(k) {}

void CombinationEnumerator::copy_items_from(std::size_t first) noexcept {
    for (std::size_t slot = first; slot < positions_.size(); ++slot) {
        combination_[slot] = list_[positions_[slot]];
    }
}

std::optional<std::span<const Item>> CombinationEnumerator::next() noexcept {
    const std::size_t k = positions_.size();
    const std::size_t m = list_.size();
    switch (stage_) {
        case Stage::exhausted:
            return std::nullopt;
        case Stage::fresh:
            if (k > m) {
                stage_ = Stage::exhausted;
                return std::nullopt;
            }
            for (std::size_t slot = 0; slot < k; ++slot) positions_[slot] = slot;
            copy_items_from(0);
            stage_ = Stage::running;
            return std::span<const Item>(combination_);
        case Stage::running:
            break;
    }
    // The one empty combination has been handed out; nothing follows it.
    if (k == 0) {
        stage_ = Stage::exhausted;
        return std::nullopt;
    }
    // Slot i can hold at most i + (m - k). Find the rightmost slot below its highest.
    std::size_t slot = k;
    while (slot > 0 && positions_[slot - 1] == slot - 1 + (m - k)) --slot;
    if (slot == 0) {
        stage_ = Stage::exhausted;
        return std::nullopt;
    }
    const std::size_t advanced = slot - 1;
    ++positions_[advanced];
    for (std::size_t right = advanced + 1; right < k; ++right) positions_[right] = positions_[right - 1] + 1;
    copy_items_from(advanced);
    return std::span<const Item>(combination_);
}

}  // namespace kestrava::exhaustive
