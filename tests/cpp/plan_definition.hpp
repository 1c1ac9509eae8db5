// The answer of a plan under conditions (a mask, a carried state, a quota per day) by the literal
// definition, for the differential test of the planner at n <= 16: every size from
// min_selections up, every combination in lexicographic order, every block mask
// ascending, strict improvement only, averages compared exactly. A carried run is
// literally r chosen periods before period 0; validity is checked on that longer
// horizon. A strict end holds the last run to min_run as every other; the most
// expensive plan is the plan of the negated prices and threshold. Integer prices
// (units), so that exact comparison is a cross product.
#pragma once

#include <cstdint>
#include <vector>

#include "selection/item.hpp"
#include "selection/rules/selection_rules.hpp"

namespace kestrava::testing {

struct LiteralPlan {
    std::vector<std::int64_t> prices;
    std::int64_t threshold = 0;
    SelectionRules rules;
    std::vector<bool> allowed;  // one per period
    std::uint64_t running_for = 0;
    std::uint64_t off_for = 0;
    bool aggressive = true;
    bool strict_end = false;
    bool most_expensive = false;
    // Each period's local day and each day's quota of main periods; empty without one.
    std::vector<std::uint32_t> day_of;
    std::vector<std::uint32_t> day_quota;

    std::size_t n() const { return prices.size(); }
    bool cheap(std::size_t p) const { return allowed[p] && prices[p] <= threshold; }
};

struct LiteralAnswer {
    int cause = 0;  // 0: a plan; else the first cause of no plan, 1 to 7 (5: a day's quota, 6: the strict end's)
    IndexList periods;
    std::size_t base_size = 0;
};

using Chosen = std::vector<bool>;

// Every rule on the horizon that starts running_for periods early with those chosen.
inline bool meets_rules(const LiteralPlan& plan, const Chosen& chosen) {
    const std::size_t r = plan.running_for;
    const std::size_t n = plan.n();
    std::vector<bool> line(r, true);
    bool any = false;
    for (std::size_t p = 0; p < n; ++p) {
        if (chosen[p] && !plan.allowed[p]) return false;
        any = any || chosen[p];
        line.push_back(chosen[p]);
    }
    if (!any) return false;
    const SelectionRules& rules = plan.rules;
    std::size_t first = 0;
    while (!line[first]) ++first;
    if (r == 0 && (first > rules.max_gap_from_start || plan.off_for + first > rules.max_gap_between_periods)) {
        return false;
    }
    std::size_t run = 0;
    std::size_t gap = 0;
    for (std::size_t p = first; p < line.size(); ++p) {
        if (line[p]) {
            if (gap > rules.max_gap_between_periods) return false;
            gap = 0;
            ++run;
            continue;
        }
        if (run > 0 && run < rules.min_consecutive_periods) return false;
        run = 0;
        ++gap;
    }
    if (plan.strict_end && run > 0 && run < rules.min_consecutive_periods) return false;
    return gap <= rules.max_gap_between_periods;
}

// Every day holds at least its quota of the periods chosen.
inline bool meets_quota(const LiteralPlan& plan, const Chosen& chosen) {
    std::vector<std::uint32_t> counted(plan.day_quota.size(), 0);
    for (std::size_t p = 0; p < plan.day_of.size(); ++p) counted[plan.day_of[p]] += chosen[p] ? 1 : 0;
    for (std::size_t day = 0; day < counted.size(); ++day) {
        if (counted[day] < plan.day_quota[day]) return false;
    }
    return true;
}

inline std::int64_t cost_of(const LiteralPlan& plan, const Chosen& chosen, std::size_t& count) {
    std::int64_t cost = 0;
    count = 0;
    for (std::size_t p = 0; p < plan.n(); ++p) {
        if (!chosen[p]) continue;
        cost += plan.prices[p];
        ++count;
    }
    return cost;
}

// The maximal runs of cheap periods outside `main`, in index order.
inline std::vector<Chosen> cheap_blocks(const LiteralPlan& plan, const Chosen& main) {
    std::vector<Chosen> blocks;
    for (std::size_t p = 0; p < plan.n(); ++p) {
        if (main[p] || !plan.cheap(p)) continue;
        Chosen block(plan.n(), false);
        for (; p < plan.n() && !main[p] && plan.cheap(p); ++p) block[p] = true;
        blocks.push_back(block);
    }
    return blocks;
}

struct Scored {
    Chosen periods;
    std::int64_t cost = 0;
    std::size_t count = 0;
    std::size_t cheap = 0;
};

inline Scored scored(const LiteralPlan& plan, const Chosen& chosen) {
    Scored s{chosen, 0, 0, 0};
    s.cost = cost_of(plan, chosen, s.count);
    for (std::size_t p = 0; p < plan.n(); ++p) s.cheap += chosen[p] && plan.cheap(p) ? 1 : 0;
    return s;
}

// Whether `candidate` replaces `best` under the strategy's order.
inline bool improves(bool aggressive, const Scored& candidate, const Scored& best) {
    if (aggressive) {
        return static_cast<__int128>(candidate.cost) * static_cast<__int128>(best.count) <
               static_cast<__int128>(best.cost) * static_cast<__int128>(candidate.count);
    }
    return candidate.cheap > best.cheap || (candidate.cheap == best.cheap && candidate.cost < best.cost);
}

// The best of `main` and its merges that keep the rules, block masks ascending.
inline Scored best_merge(const LiteralPlan& plan, const Chosen& main) {
    const std::vector<Chosen> blocks = cheap_blocks(plan, main);
    Scored best = scored(plan, main);
    for (std::uint32_t mask = 1; mask < (1U << blocks.size()); ++mask) {
        Chosen merge = main;
        for (std::size_t j = 0; j < blocks.size(); ++j) {
            if (!((mask >> j) & 1U)) continue;
            for (std::size_t p = 0; p < plan.n(); ++p) merge[p] = merge[p] || blocks[j][p];
        }
        if (!meets_rules(plan, merge)) continue;
        const Scored candidate = scored(plan, merge);
        if (improves(plan.aggressive, candidate, best)) best = candidate;
    }
    return best;
}

// Calls visit(chosen) for each k-combination of 0 .. n-1 in lexicographic order.
template <class Visit>
void for_each_combination(std::size_t n, std::size_t k, Chosen& chosen, std::size_t from, Visit&& visit) {
    if (k == 0) {
        visit(chosen);
        return;
    }
    for (std::size_t p = from; p + k <= n; ++p) {
        chosen[p] = true;
        for_each_combination(n, k - 1, chosen, p + 1, visit);
        chosen[p] = false;
    }
}

LiteralAnswer literal_answer(const LiteralPlan& plan);

inline int literal_cause(const LiteralPlan& plan) {
    const SelectionRules& rules = plan.rules;
    std::size_t stretch = 0;
    std::size_t allowed = 0;
    for (std::size_t p = 0; p < plan.n(); ++p) {
        stretch = plan.allowed[p] ? 0 : stretch + 1;
        if (stretch > rules.max_gap_between_periods) return 1;
        allowed += plan.allowed[p] ? 1 : 0;
    }
    if (allowed < rules.min_selections) return 2;
    if (plan.running_for > 0 && plan.running_for < rules.min_consecutive_periods && !plan.allowed[0]) return 3;
    if (plan.off_for > 0) {
        bool start = false;
        for (std::size_t f = 0; f < plan.n(); ++f) {
            start = start || (plan.allowed[f] && f <= rules.max_gap_from_start &&
                              plan.off_for + f <= rules.max_gap_between_periods);
        }
        if (!start) return 4;
    }
    if (!meets_quota(plan, Chosen(plan.allowed.begin(), plan.allowed.end()))) return 5;
    if (plan.strict_end) {
        LiteralPlan exempt = plan;
        exempt.strict_end = false;
        if (literal_answer(exempt).cause == 0) return 6;
    }
    return 7;
}

inline LiteralAnswer literal_answer(const LiteralPlan& plan) {
    if (plan.most_expensive) {
        LiteralPlan negated = plan;
        negated.most_expensive = false;
        negated.threshold = -plan.threshold;
        for (std::int64_t& price : negated.prices) price = -price;
        return literal_answer(negated);
    }
    const std::size_t n = plan.n();
    LiteralAnswer answer;
    bool every_allowed = true;
    bool every_cheap = true;
    for (std::size_t p = 0; p < n; ++p) {
        every_allowed = every_allowed && plan.allowed[p];
        every_cheap = every_cheap && plan.cheap(p);
    }
    const bool shortcut = every_allowed && plan.off_for <= plan.rules.max_gap_between_periods &&
                          (every_cheap || plan.rules.min_selections == n);
    for (std::size_t k = plan.rules.min_selections; k <= n; ++k) {
        bool found = false;
        Scored best;
        Chosen chosen(n, false);
        for_each_combination(n, k, chosen, 0, [&](const Chosen& main) {
            if (!meets_rules(plan, main) || !meets_quota(plan, main)) return;
            const Scored candidate = plan.aggressive ? best_merge(plan, main) : scored(plan, main);
            const bool better = plan.aggressive ? improves(true, candidate, best) : candidate.cost < best.cost;
            if (!found || better) best = candidate;
            found = true;
        });
        if (!found) continue;
        if (!plan.aggressive) best = best_merge(plan, best.periods);
        answer.base_size = k;
        for (std::size_t p = 0; p < n; ++p) {
            if (shortcut || best.periods[p]) answer.periods.push_back(p);
        }
        return answer;
    }
    answer.cause = literal_cause(plan);
    return answer;
}

}  // namespace kestrava::testing
