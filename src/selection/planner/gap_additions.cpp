// The gap terms, rebuilt in O(n) for each set of weights.
#include "selection/planner/gap_additions.hpp"

#include <algorithm>

#include "selection/planner/integer_ladder.hpp"

namespace kestrava::planner {

template <class Int>
void GapAdditions<Int>::reset(const rules::Shape& shape) {
    shape_ = &shape;
    const auto n = static_cast<std::size_t>(shape.n);
    weights_.resize(n);
    prefix_.resize(n + 1);
    run_heads_.resize(n);
    started_before_.resize(n + 2);
    ended_before_.resize(n + 1);
    after_end_.resize(n);
    before_start_.resize(n);
    wholly_cheap_until_.resize(n);
    for (int e = 0; e < shape.n; ++e) {
        wholly_cheap_until_[at(e)] = shape.is_cheap(e + 1) ? shape.run_last[at(e + 1)] + 1 : e + 1;
    }
}

template <class Int>
Int GapAdditions<Int>::run_value(int first, int last) const noexcept {
    // A run at period 0 touches a carried run.
    const bool stands_alone = last - first + 1 >= shape_->min_run || (last == shape_->n - 1 && !shape_->strict_end) ||
                              (first == 0 && shape_->carried > 0);
    return stands_alone ? std::min(Int{}, prefix(last + 1) - prefix(first)) : Int{};
}

template <class Int>
void GapAdditions<Int>::assign(std::span<const Int> weights, bool with_additions) noexcept {
    const int n = shape_->n;
    with_additions_ = with_additions;
    prefix_[0] = Int{};
    for (int p = 0; p < n; ++p) {
        weights_[at(p)] = weights[at(p)];
        prefix_[at(p + 1)] = prefix_[at(p)] + weights[at(p)];
    }
    for (int s = 0; s < n; ++s) run_heads_[at(s)] = prefix(std::min(s + shape_->min_run, n)) - prefix(s);
    // A last run cut short by the end (s + R > n) is read as its head alone: a blocked
    // period in it, or a strict end, marks it unreachable here, which takes the short
    // last run out of every start transition. Longer heads end in a stalled state
    // (tables.cpp), and a blocked period's weight stays its price, so every bound of
    // integer_ladder.hpp holds as it is: each head gains the sentinel once.
    const int last_unreachable = shape_->strict_end ? n - 1 : shape_->last_blocked;
    for (int s = std::max(0, n - shape_->min_run + 1); s <= last_unreachable; ++s) {
        run_heads_[at(s)] += unreachable_sentinel<Int>();
    }
    if (!with_additions) return;  // lead(), between() and trailing() answer 0 without reading the rest

    Int started{};
    Int ended{};
    for (int p = 0; p < n; ++p) {
        started_before_[at(p)] = started;
        ended_before_[at(p)] = ended;
        if (!shape_->is_cheap(p)) continue;
        const int first = shape_->run_first[at(p)];
        const int last = shape_->run_last[at(p)];
        if (first == p) started += run_value(first, last);
        if (last == p) ended += run_value(first, last);
    }
    started_before_[at(n)] = started;
    started_before_[at(n + 1)] = started;
    ended_before_[at(n)] = ended;
    all_runs_ = ended;

    for (int e = 0; e + 1 < n; ++e) {
        // The piece that touches e, less every run that starts at or before e + 1.
        const Int touching =
            shape_->is_cheap(e + 1) ? std::min(Int{}, prefix(shape_->run_last[at(e + 1)] + 1) - prefix(e + 1)) : Int{};
        after_end_[at(e)] = touching - started_before_[at(e + 2)];
    }
    after_end_[at(n - 1)] = Int{};  // no gap follows the last period
    before_start_[0] = Int{};       // no gap precedes period 0
    for (int s = 1; s < n; ++s) {
        // The piece that touches s, plus every run that ends before s - 1.
        const Int touching =
            shape_->is_cheap(s - 1) ? std::min(Int{}, prefix(s) - prefix(shape_->run_first[at(s - 1)])) : Int{};
        before_start_[at(s)] = touching + ended_before_[at(s - 1)];
    }
}

template class GapAdditions<std::int64_t>;
template class GapAdditions<__int128>;
template class GapAdditions<FixedInt<4>>;
template class GapAdditions<FixedInt<8>>;

}  // namespace kestrava::planner
