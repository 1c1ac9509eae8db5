// FloorTables: on a settled merge walk whose sums never round, the least weight that
// can follow each state under weights on which every merge at the floor weighs
// nothing or less, so that a prefix with no completion at the floor is known at once.
//
// A merge of m periods and exact sum x (in units) averages at the floor only if
// x <= t(m) (win_limits.hpp). With m* the count of largest t(m) / m among the counts
// that some sum reaches, x <= t(m) gives m* x - m t(m*) <= 0: under the weights
// m* c_i - t(m*) every merge at the floor weighs at most nothing. The tables under
// those weights, with the cheap blocks' additions, give the least weight of what can
// follow each state; a prefix whose own weight and that add up to more than nothing
// has no completion at the floor.
//
// Bounds: |m* c_i - t(m*)| <= n P + n P (|t| <= M <= n P, P the largest |c_i|), the
// weights of one pass of integer_ladder.hpp, so the planner's own width holds them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "selection/item.hpp"
#include "selection/planner/integer_ladder.hpp"
#include "selection/planner/rounded/win_limits.hpp"
#include "selection/planner/tables.hpp"
#include "selection/rules/shape.hpp"

namespace kestrava::planner {

template <class Int>
class FloorTables {
public:
    // Nothing when no count reaches the floor. Allocates the tables.
    static std::unique_ptr<FloorTables> weighed(const rules::Shape& shape, std::span<const Item> items,
                                                WinLimits& limits) {
        int most = 0;
        for (int m = 1; m <= shape.n; ++m) {
            if (!limits.reached(m)) continue;
            if (most == 0 || limits.limit(m) * most > limits.limit(most) * m) most = m;
        }
        if (most == 0) return nullptr;
        return std::unique_ptr<FloorTables>(new FloorTables(shape, items, limits, most));
    }

    const Tables<Int>& tables() const noexcept { return tables_; }

    // The weight of a prefix of `count` periods whose exact sum is `units`.
    Int prefix_weight(__int128 units, int count) const noexcept {
        return from_int128(count_ * units - count * limit_);
    }

private:
    FloorTables(const rules::Shape& shape, std::span<const Item> items, WinLimits& limits, int most)
        : count_(most), limit_(limits.limit(most)), tables_(shape) {
        std::vector<Int> weights(items.size());
        for (std::size_t i = 0; i < items.size(); ++i) {
            weights[i] = from_int128(count_ * limits.units(items[i].price) - limit_);
        }
        (void)tables_.build(weights, true, StopCheck{});  // a check that never stops
    }

    static Int from_int128(__int128 value) noexcept { return narrow<Int>(Int256::from_int128(value)); }

    __int128 count_;  // m*
    __int128 limit_;  // t(m*)
    Tables<Int> tables_;
};

}  // namespace kestrava::planner
