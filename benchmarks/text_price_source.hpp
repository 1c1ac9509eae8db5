// A price source over a request's texts, so that the benchmark calls the selection
// entry the way the extension does.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "selection/requests/request.hpp"

namespace kestrava::bench {

class TextPriceSource final : public PriceTextSource {
public:
    explicit TextPriceSource(const std::vector<std::string>& texts) : texts_(texts) {}

    std::size_t current_size() const noexcept override { return texts_.size(); }
    std::optional<std::string_view> text_at(std::size_t index) noexcept override { return texts_[index]; }

private:
    const std::vector<std::string>& texts_;
};

}  // namespace kestrava::bench
