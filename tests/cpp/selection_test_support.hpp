// Helpers for the selection tests: Items from price texts, and a price source over
// a vector that records what was read and can change its size while being read.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "decimal/decimal.hpp"
#include "selection/item.hpp"
#include "selection/requests/request.hpp"

namespace kestrava::testing {

inline Decimal parse_or_fail(std::string_view text) {
    const std::optional<Decimal> value = Decimal::parse(text);
    EXPECT_TRUE(value.has_value()) << "not a decimal text: " << text;
    return value.value_or(Decimal{});
}

// Item i is (i, prices[i]).
inline std::vector<Item> items_from(const std::vector<std::string>& prices) {
    std::vector<Item> items;
    for (std::size_t i = 0; i < prices.size(); ++i) items.push_back(Item{i, parse_or_fail(prices[i])});
    return items;
}

// Items with the given indices, priced at zero (the checks look at indices only).
inline std::vector<Item> items_at(const std::vector<std::uint64_t>& indices) {
    std::vector<Item> items;
    for (std::uint64_t index : indices) items.push_back(Item{index, Decimal{}});
    return items;
}

inline std::vector<std::uint64_t> indices_of(std::span<const Item> items) {
    std::vector<std::uint64_t> indices;
    for (const Item& item : items) indices.push_back(item.index);
    return indices;
}

// The items priced at or below the threshold, in order.
inline std::vector<Item> cheap_items_of(const std::vector<Item>& items, std::string_view threshold) {
    const Decimal limit = parse_or_fail(threshold);
    std::vector<Item> cheap;
    for (const Item& item : items) {
        if (compare(item.price, limit) <= 0) cheap.push_back(item);
    }
    return cheap;
}

// A price source over texts; nullopt stands for an element that is not text. After
// resize_after(reads, size), its size changes once that many elements have been read.
class VectorPriceSource final : public PriceTextSource {
public:
    explicit VectorPriceSource(std::vector<std::optional<std::string>> elements) : elements_(std::move(elements)) {}

    std::size_t current_size() const noexcept override { return elements_.size(); }

    std::optional<std::string_view> text_at(std::size_t index) noexcept override {
        read_.push_back(index);
        std::optional<std::string_view> text;
        if (elements_[index]) text = std::string_view(*elements_[index]);
        if (resize_pending_ && read_.size() == resize_after_reads_) {
            resize_pending_ = false;
            // The text handed out stays valid: it is copied aside before the resize.
            if (text) {
                kept_ = std::string(*text);
                text = kept_;
            }
            elements_.resize(size_after_resize_, std::string("0"));
        }
        return text;
    }

    void resize_after(std::size_t reads, std::size_t new_size) {
        resize_pending_ = true;
        resize_after_reads_ = reads;
        size_after_resize_ = new_size;
    }

    const std::vector<std::size_t>& read_indices() const { return read_; }

private:
    std::vector<std::optional<std::string>> elements_;
    std::vector<std::size_t> read_;
    std::string kept_;
    bool resize_pending_ = false;
    std::size_t resize_after_reads_ = 0;
    std::size_t size_after_resize_ = 0;
};

// n texts, all equal to `text`.
inline std::vector<std::optional<std::string>> repeated_texts(std::size_t n, const std::string& text) {
    return std::vector<std::optional<std::string>>(n, text);
}

// A stop check that counts its polls and asks to stop at poll `stop_at` (0: never).
struct PollCounter {
    int polls = 0;
    int stop_at = 0;  // 0: never
    static bool poll(void* context) noexcept {
        auto* self = static_cast<PollCounter*>(context);
        return ++self->polls == self->stop_at;
    }
};

}  // namespace kestrava::testing
