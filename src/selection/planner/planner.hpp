// Planner<Int>: the two strategies on integer prices of one width, for any number
// of periods up to max_periods. This is the interface for a caller that brings its
// own integer prices (units at a common scale) and cheap flags; requests/cheapest_periods.hpp
// is the one for price texts.
//
// Lowest average (aggressive). Dinkelbach's method on the tables: for a candidate
// average lambda = cost / count, weighing period i by count * p_i - cost makes a
// merge's weight negative exactly when its average lies below lambda. The first
// candidate is the best merge of the cheapest main combination. Each round either
// finds the least weight 0, which certifies lambda as the lowest average, or yields
// a main combination whose own best merge lies strictly lower, and the next round
// starts from that; the averages fall strictly, so the rounds end. In the
// certifying round the main combinations of weight 0 are exactly those whose best
// merge reaches the lowest average, and the tables give the first of them in
// lexicographic order: the answer's main combination. Its best merges at the lowest
// average all hold the blocks strictly below it and differ only in blocks exactly at
// it, so the smallest block mask takes just the former.
//
// A certificate ends the rounds before any. Every selection holds at least k
// periods, so none averages below the k lowest prices' average B. When the cheapest
// main combination costs just the k lowest prices, it reaches B, and every main
// combination whose best merge reaches B is a cheapest one too: a merge averaging B
// over m >= k periods costs at least the m lowest prices, so these all equal B, and
// its blocks can lower nothing. The first cheapest main is then the answer's main
// combination, and as every other period is priced at B or above, no block lies
// strictly below B: the answer is the main combination alone.
//
// Without any conditions of a plan, the cheapest main combination needs no pass when
// the k lowest prices lie strictly below every other and those k periods keep the
// rules: they are then the one main combination of least cost.
//
// Cheapest main (conservative). One pass with the prices as weights and no
// additions gives the first cheapest main combination; every admissible block is
// then added (the merge with the most cheap periods holds all the others).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "selection/planner/merges.hpp"
#include "selection/rules/shape.hpp"
#include "selection/planner/quota_tables.hpp"
#include "selection/planner/tables.hpp"
#include "selection/item.hpp"
#include "selection/stop_check.hpp"

namespace kestrava::planner {

// Whether the caller reads tables() after planning; if not, a plan that a certificate
// settles skips the passes it spares, and the tables are left as they were.
enum class TablesRead { yes, no };

enum class PlanStatus {
    done,         // the answer is ready
    interrupted,  // the stop check asked to stop; the planner holds no answer
    no_selection, // no valid main combination has k periods (only a plan's conditions leave that to the tables)
};

template <class Int>
class Planner {
public:
    Planner() = default;
    // Allocates every workspace the strategies use; planning then allocates nothing.
    // Keeps references to `shape` and `prices` (one per period, in units of a common
    // scale, within the bound of integer_ladder.hpp for this width), which must
    // outlive the planner (or the next reset()). Precondition: 1 <= shape.size < shape.n.
    Planner(const rules::Shape& shape, std::span<const Int> prices) { reset(shape, prices); }
    // As the constructor, in the workspace already held where it is large enough.
    void reset(const rules::Shape& shape, std::span<const Int> prices);

    // Throw InternalFailure only if the planner's own reasoning were contradicted.
    // Both strategies start from the first cheapest main combination. Given
    // `cheapest_main`, the cheapest_main() of an earlier plan of the same prices and
    // shape, they skip the pass that finds it; the cheapest main's strategy then runs no
    // pass, and leaves tables() as they were.
    PlanStatus plan_lowest_average(const StopCheck& stop, const IndexList* cheapest_main = nullptr,
                                   TablesRead tables_read = TablesRead::yes);
    PlanStatus plan_cheapest_main(const StopCheck& stop, const IndexList* cheapest_main = nullptr,
                                  TablesRead tables_read = TablesRead::yes);

    // After plan_lowest_average: the lowest average over every valid main
    // combination of k periods and every admissible merge of it.
    const Average<Int>& lowest_average() const noexcept { return lowest_average_; }
    // After plan_cheapest_main: the least cost of a valid main combination of k periods.
    const Int& least_cost() const noexcept { return least_cost_; }
    // After either: the answer's main combination (the first in lexicographic order
    // that reaches the optimum) and the answer itself, both ascending.
    const IndexList& main() const noexcept { return main_; }
    // After either: the first main combination of least cost, which both start from.
    const IndexList& cheapest_main() const noexcept { return cheapest_main_; }
    const IndexList& selection() const noexcept { return selection_; }
    // The last pass's tables (without a quota; with one the quota tables plan): for plan_lowest_average, weights count * p - cost at the
    // lowest average (optimum 0); for plan_cheapest_main, the prices, without additions.
    const Tables<Int>& tables() const noexcept { return tables_; }

    std::size_t workspace_bytes() const noexcept;

private:
    PlanStatus find_first_main(bool with_additions, const StopCheck& stop);
    PlanStatus find_first_main_by_quota(bool with_additions, const StopCheck& stop);
    // The optimum of the last pass, of whichever tables ran it.
    const Int& pass_optimum() const noexcept {
        return shape_->has_quota() ? quota_tables_.optimum() : tables_.optimum();
    }
    PlanStatus find_cheapest_main(const StopCheck& stop, const IndexList* known, TablesRead tables_read);
    void select_lowest_prices();
    bool lowest_prices_form_a_main();
    Average<Int> best_merge_of_main();
    bool costs_the_lowest_prices();
    void answer_at(const Average<Int>& lowest);

    const rules::Shape* shape_ = nullptr;
    std::span<const Int> prices_;
    std::vector<Int> price_prefix_;
    std::vector<Int> weights_;
    Tables<Int> tables_;
    QuotaTables<Int> quota_tables_;  // in place of tables_ when the shape has a quota
    std::vector<std::uint8_t> marks_;
    std::vector<CheapBlock> blocks_;
    IndexList main_;
    IndexList cheapest_main_;
    IndexList selection_;
    Average<Int> lowest_average_{};
    Int least_cost_{};
    Int lowest_sum_{};             // of the k lowest prices, once selected
    bool lowest_selected_ = false;  // in this plan
};

extern template class Planner<std::int64_t>;
extern template class Planner<__int128>;
extern template class Planner<FixedInt<4>>;
extern template class Planner<FixedInt<8>>;

}  // namespace kestrava::planner
