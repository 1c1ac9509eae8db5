// The strategies' rounds over the tables.
#include "selection/planner/planner.hpp"

#include <algorithm>

#include "selection/exhaustive/combination_checks.hpp"
#include "selection/internal_failure.hpp"

namespace kestrava::planner {

template <class Int>
void Planner<Int>::reset(const rules::Shape& shape, std::span<const Int> prices) {
    shape_ = &shape;
    prices_ = prices;
    if (shape.has_quota()) {
        quota_tables_.reset(shape);
    } else {
        tables_.reset(shape);
    }
    const auto n = static_cast<std::size_t>(shape.n);
    price_prefix_.resize(n + 1);
    for (std::size_t p = 0; p < n; ++p) price_prefix_[p + 1] = price_prefix_[p] + prices[p];
    weights_.resize(n);
    marks_.assign(n, 0);
    // Cheap blocks are separated by at least one period.
    blocks_.reserve(n / 2 + 1);
    main_.reserve(n);
    cheapest_main_.reserve(n);
    selection_.reserve(n);
}

template <class Int>
PlanStatus Planner<Int>::find_first_main(bool with_additions, const StopCheck& stop) {
    if (shape_->has_quota()) return find_first_main_by_quota(with_additions, stop);
    if (!tables_.build(with_additions ? std::span<const Int>(weights_) : prices_, with_additions, stop)) {
        return PlanStatus::interrupted;
    }
    // A pass with additions holds the candidate's own merge, so only the first can find nothing.
    if (!with_additions && !Tables<Int>::is_reachable(tables_.optimum())) return PlanStatus::no_selection;
    main_.clear();
    tables_.first_main(main_);
    return PlanStatus::done;
}

template <class Int>
PlanStatus Planner<Int>::find_first_main_by_quota(bool with_additions, const StopCheck& stop) {
    const std::span<const Int> weights = with_additions ? std::span<const Int>(weights_) : prices_;
    if (!quota_tables_.build(weights, with_additions, stop)) return PlanStatus::interrupted;
    if (!QuotaTables<Int>::is_reachable(quota_tables_.optimum())) {
        if (!with_additions) return PlanStatus::no_selection;
        throw InternalFailure("A merge lost its weight between rounds of the planner");
    }
    main_.clear();
    quota_tables_.first_main(main_);
    return PlanStatus::done;
}

// The first cheapest main combination into main_ and cheapest_main_, and its cost.
template <class Int>
PlanStatus Planner<Int>::find_cheapest_main(const StopCheck& stop, const IndexList* known, TablesRead tables_read) {
    lowest_selected_ = false;
    if (known != nullptr || (tables_read == TablesRead::no && lowest_prices_form_a_main())) {
        if (known != nullptr) main_ = *known;  // within the capacity reserved: no allocation
        least_cost_ = Int{};
        for (const std::uint64_t p : main_) least_cost_ += prices_[static_cast<std::size_t>(p)];
    } else {
        if (const PlanStatus status = find_first_main(false, stop); status != PlanStatus::done) return status;
        least_cost_ = pass_optimum();
    }
    cheapest_main_ = main_;
    return PlanStatus::done;
}

template <class Int>
Average<Int> Planner<Int>::best_merge_of_main() {
    admissible_blocks(*shape_, main_, marks_, blocks_);
    return Merges<Int>::lowest_average(price_prefix_, main_, blocks_);
}

// The k lowest prices before position k of weights_, the (k + 1)-th at k, and their
// sum: once per plan, for the shortcut and the certificate of planner.hpp. A copy in
// weights_, which the rounds overwrite only after both.
template <class Int>
void Planner<Int>::select_lowest_prices() {
    if (lowest_selected_) return;
    std::copy(prices_.begin(), prices_.end(), weights_.begin());
    // k < n, so position k holds a price.
    const auto next = weights_.begin() + shape_->size;
    std::nth_element(weights_.begin(), next, weights_.end());
    lowest_sum_ = Int{};
    for (auto price = weights_.begin(); price != next; ++price) lowest_sum_ += *price;
    lowest_selected_ = true;
}

// The shortcut: the k lowest prices, when strictly below every other, into main_;
// whether they keep the rules.
template <class Int>
bool Planner<Int>::lowest_prices_form_a_main() {
    if (shape_->carried != 0 || !shape_->allowed.empty() || shape_->has_quota()) return false;
    select_lowest_prices();
    const auto next = weights_.begin() + shape_->size;
    if (!(*std::max_element(weights_.begin(), next) < *next)) return false;
    main_.clear();
    for (std::size_t p = 0; p < prices_.size(); ++p) {
        if (prices_[p] < *next) main_.push_back(p);
    }
    const SelectionRules rules{0, static_cast<std::uint64_t>(shape_->min_run),
                               static_cast<std::uint64_t>(shape_->max_gap),
                               static_cast<std::uint64_t>(shape_->max_lead)};
    return exhaustive::is_valid_combination(main_, rules, static_cast<std::uint64_t>(shape_->n), shape_->strict_end);
}

// The certificate: whether the cheapest main combination costs just the k lowest prices.
template <class Int>
bool Planner<Int>::costs_the_lowest_prices() {
    select_lowest_prices();
    return lowest_sum_ == least_cost_;
}

// The selection: the main combination and its blocks strictly below `lowest`.
template <class Int>
void Planner<Int>::answer_at(const Average<Int>& lowest) {
    lowest_average_ = lowest;
    admissible_blocks(*shape_, main_, marks_, blocks_);
    Merges<Int>::merge(price_prefix_, main_, blocks_, &lowest_average_, selection_);
}

template <class Int>
PlanStatus Planner<Int>::plan_lowest_average(const StopCheck& stop, const IndexList* cheapest_main,
                                             TablesRead tables_read) {
    const PlanStatus found = find_cheapest_main(stop, cheapest_main, tables_read);
    if (found != PlanStatus::done) return found;
    if (tables_read == TablesRead::no && costs_the_lowest_prices()) {
        answer_at({least_cost_, static_cast<std::int64_t>(main_.size())});
        return PlanStatus::done;
    }
    Average<Int> candidate = best_merge_of_main();
    for (;;) {
        const Int count = static_cast<Int>(candidate.count);
        for (std::size_t p = 0; p < weights_.size(); ++p) weights_[p] = count * prices_[p] - candidate.cost;
        if (const PlanStatus status = find_first_main(true, stop); status != PlanStatus::done) return status;
        // The candidate's own merge weighs 0, so the least weight is at most 0.
        const Int& least = pass_optimum();
        if (least == Int{}) break;
        if (Int{} < least) throw InternalFailure("A merge lost its weight between rounds of the planner");
        const Average<Int> next = best_merge_of_main();
        if (!below(next, candidate)) throw InternalFailure("A round of the planner did not lower the average");
        candidate = next;
    }
    answer_at(candidate);
    return PlanStatus::done;
}

template <class Int>
PlanStatus Planner<Int>::plan_cheapest_main(const StopCheck& stop, const IndexList* cheapest_main,
                                            TablesRead tables_read) {
    const PlanStatus status = find_cheapest_main(stop, cheapest_main, tables_read);
    if (status != PlanStatus::done) return status;
    admissible_blocks(*shape_, main_, marks_, blocks_);
    Merges<Int>::merge(price_prefix_, main_, blocks_, nullptr, selection_);
    return PlanStatus::done;
}

template <class Int>
std::size_t Planner<Int>::workspace_bytes() const noexcept {
    return tables_.workspace_bytes() + quota_tables_.workspace_bytes() + (price_prefix_.capacity() + weights_.capacity()) * sizeof(Int) +
           marks_.capacity() + blocks_.capacity() * sizeof(CheapBlock) +
           (main_.capacity() + cheapest_main_.capacity() + selection_.capacity()) * sizeof(std::uint64_t);
}

template class Planner<std::int64_t>;
template class Planner<__int128>;
template class Planner<FixedInt<4>>;
template class Planner<FixedInt<8>>;

}  // namespace kestrava::planner
