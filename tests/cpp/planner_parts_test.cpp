// The planner's parts against brute force over every selection of small requests,
// valid by the exhaustive search's rule check: the smallest valid size, the band
// (every state of every valid selection lies in it), and the tables the rounded-sum
// layer reads (every state's value is the best completion over the valid selections
// through it; the first main combination is the lexicographically first of least
// weight).
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <map>
#include <tuple>
#include <vector>

#include "planner_requests.hpp"
#include "selection/exhaustive/combination_checks.hpp"
#include "selection/planner/tables.hpp"
#include "selection/rules/band.hpp"
#include "selection/rules/shape.hpp"

namespace kestrava {
namespace {

using rules::Shape;

std::vector<bool> bits_of(std::uint32_t mask, int n) {
    std::vector<bool> chosen(static_cast<std::size_t>(n));
    for (int p = 0; p < n; ++p) chosen[static_cast<std::size_t>(p)] = ((mask >> p) & 1U) != 0;
    return chosen;
}

// The rules of a small request, and which periods are cheap.
struct SmallRequest {
    std::vector<bool> cheap;
    int min_run = 1;
    int max_gap = 0;
    int max_lead = 0;

    SelectionRules rules() const {
        // min_selections is not read by the rule check; make_shape takes k separately.
        return SelectionRules{static_cast<std::uint64_t>(min_run), static_cast<std::uint64_t>(min_run),
                              static_cast<std::uint64_t>(max_gap), static_cast<std::uint64_t>(max_lead)};
    }
};

bool is_valid(const SmallRequest& request, const std::vector<bool>& chosen) {
    std::vector<std::uint64_t> indices;
    for (std::size_t p = 0; p < chosen.size(); ++p) {
        if (chosen[p]) indices.push_back(p);
    }
    return exhaustive::is_valid_combination(std::span<const std::uint64_t>(indices), request.rules(), chosen.size());
}

SmallRequest rules_only(int n, int run, int gap, int lead) {
    return SmallRequest{std::vector<bool>(static_cast<std::size_t>(n), false), run, gap, lead};
}

TEST(PlannerParts, SmallestValidSizeMatchesEverySelection) {
    for (int n = 1; n <= 11; ++n) {
        for (int run = 1; run <= n; ++run) {
            for (int gap = 0; gap < n; ++gap) {
                for (int lead = 0; lead <= gap; ++lead) {
                    const SmallRequest rules = rules_only(n, run, gap, lead);
                    int fewest = n + 1;
                    for (std::uint32_t mask = 1; mask < (1U << n); ++mask) {
                        if (is_valid(rules, bits_of(mask, n)))
                            fewest = std::min(fewest, std::popcount(mask));
                    }
                    EXPECT_EQ(rules::smallest_valid_size(n, run, gap, lead), fewest)
                        << "n " << n << " run " << run << " gap " << gap << " lead " << lead;
                }
            }
        }
    }
}

// The states of one selection, as (period, main periods after it) pairs.
struct SelectionStates {
    std::vector<std::pair<int, int>> runs;    // p main, its run at least R long at p
    std::vector<std::pair<int, int>> starts;  // a run starts at p; the count includes p
    std::vector<std::pair<int, int>> exits;   // a long enough run ends at p, p + 1 out
};

SelectionStates states_of(const std::vector<bool>& chosen, int min_run) {
    const int n = static_cast<int>(chosen.size());
    SelectionStates states;
    int after = static_cast<int>(std::count(chosen.begin(), chosen.end(), true));
    int run = 0;
    for (int p = 0; p < n; ++p) {
        if (!chosen[static_cast<std::size_t>(p)]) {
            run = 0;
            continue;
        }
        if (run == 0) states.starts.emplace_back(p, after);
        --after;
        ++run;
        if (run >= min_run) states.runs.emplace_back(p, after);
        if (run >= min_run && p + 1 < n && !chosen[static_cast<std::size_t>(p + 1)])
            states.exits.emplace_back(p, after);
    }
    return states;
}

rules::Shape shape_for(const SmallRequest& request, int k) {
    std::vector<std::uint8_t> cheap;
    for (const bool c : request.cheap) cheap.push_back(c ? 1 : 0);
    rules::Shape shape = rules::make_shape(cheap, request.rules());
    shape.size = k;
    return shape;
}

TEST(PlannerParts, BandHoldsEveryStateOfEveryValidSelection) {
    for (int n = 2; n <= 11; ++n) {
        for (int run = 1; run < n; ++run) {
            for (int gap = 1; gap < n; ++gap) {
                for (int lead = 0; lead <= gap; ++lead) {
                    const SmallRequest rules = rules_only(n, run, gap, lead);
                    for (int k = rules::smallest_valid_size(n, run, gap, lead); k < n; ++k) {
                        const rules::Band band(shape_for(rules, k));
                        for (std::uint32_t mask = 1; mask < (1U << n); ++mask) {
                            const std::vector<bool> chosen = bits_of(mask, n);
                            if (std::popcount(mask) != k || !is_valid(rules, chosen)) continue;
                            for (const auto& [p, c] : states_of(chosen, run).runs) {
                                ASSERT_TRUE(band.holds(p, c))
                                    << "n " << n << " run " << run << " gap " << gap << " lead " << lead << " k " << k
                                    << " mask " << mask << " p " << p;
                            }
                        }
                    }
                }
            }
        }
    }
}

// The weight a selection adds after period `from` (exclusive; inclusive when
// `including`): its main periods there and, with additions, min(0, weight) of each
// admissible cheap block there.
std::int64_t completion(const SmallRequest& request, const std::vector<bool>& chosen,
                        const std::vector<std::int64_t>& w, int from, bool including, bool with_additions) {
    const int n = static_cast<int>(chosen.size());
    std::int64_t total = 0;
    for (int p = including ? from : from + 1; p < n; ++p) {
        if (chosen[static_cast<std::size_t>(p)]) total += w[static_cast<std::size_t>(p)];
    }
    for (int p = from + 1; p < n && with_additions; ++p) {
        if (chosen[static_cast<std::size_t>(p)] || !request.cheap[static_cast<std::size_t>(p)]) continue;
        int last = p;
        std::int64_t block = 0;
        for (; last < n && !chosen[static_cast<std::size_t>(last)] && request.cheap[static_cast<std::size_t>(last)];
             ++last) {
            block += w[static_cast<std::size_t>(last)];
        }
        std::vector<bool> merged = chosen;
        for (int q = p; q < last; ++q) merged[static_cast<std::size_t>(q)] = true;
        if (is_valid(request, merged)) total += std::min<std::int64_t>(0, block);
        p = last;
    }
    return total;
}

struct Accessor {
    const char* name;
    std::vector<std::pair<int, int>> SelectionStates::* states;
    bool including;
    std::int64_t (*value)(const planner::Tables<std::int64_t>&, int, int);
};

TEST(PlannerParts, TablesHoldTheBestCompletionOfEveryState) {
    const Accessor accessors[] = {
        {"run", &SelectionStates::runs, false,
         [](const planner::Tables<std::int64_t>& t, int p, int c) { return t.run_value(p, c); }},
        {"start", &SelectionStates::starts, true,
         [](const planner::Tables<std::int64_t>& t, int p, int c) { return t.start_value(p, c); }},
        {"exit", &SelectionStates::exits, false,
         [](const planner::Tables<std::int64_t>& t, int p, int c) { return t.exit_value(p, c); }},
    };
    for (std::uint64_t number = 0; number < 400; ++number) {
        testing::RequestRandom random(77, number);
        const int n = static_cast<int>(random.between(3, 11));
        const int run = static_cast<int>(random.between(1, 3));
        const int gap = static_cast<int>(random.between(1, static_cast<std::uint64_t>(n - 1)));
        SmallRequest request = rules_only(
            n, std::min(run, n - 1), gap, static_cast<int>(random.between(0, static_cast<std::uint64_t>(gap))));
        std::vector<std::int64_t> w;
        for (int p = 0; p < n; ++p) {
            w.push_back(static_cast<std::int64_t>(random.between(0, 6)) - 3);
            request.cheap[static_cast<std::size_t>(p)] = random.chance(40);
        }
        const bool with_additions = random.chance(70);
        const int k = static_cast<int>(random.between(
            static_cast<std::uint64_t>(rules::smallest_valid_size(n, request.min_run, gap, request.max_lead)),
            static_cast<std::uint64_t>(n)));
        if (k == n) continue;
        const rules::Shape shape = shape_for(request, k);
        planner::Tables<std::int64_t> tables(shape);
        ASSERT_TRUE(tables.build(w, with_additions, StopCheck{}));

        std::int64_t best_total = planner::Tables<std::int64_t>::unreachable();
        std::uint32_t first_best = 0;
        std::map<std::tuple<int, int, int>, std::int64_t> best_completion;  // (accessor, p, c)
        for (std::uint32_t mask = 1; mask < (1U << n); ++mask) {
            const std::vector<bool> chosen = bits_of(mask, n);
            if (std::popcount(mask) != k || !is_valid(request, chosen)) continue;
            const std::int64_t total = completion(request, chosen, w, -1, false, with_additions);
            // Of two index tuples of one size, the one holding the lowest index where
            // they differ comes first.
            const std::uint32_t differ = first_best ^ mask;
            const bool earlier = first_best == 0 || (mask & differ & (~differ + 1)) != 0;
            if (total < best_total || (total == best_total && earlier)) {
                best_total = total;
                first_best = mask;
            }
            const SelectionStates states = states_of(chosen, request.min_run);
            for (std::size_t a = 0; a < std::size(accessors); ++a) {
                for (const auto& [p, c] : states.*(accessors[a].states)) {
                    const std::int64_t value =
                        completion(request, chosen, w, p, accessors[a].including, with_additions);
                    auto [slot, fresh] = best_completion.try_emplace({static_cast<int>(a), p, c}, value);
                    if (!fresh) slot->second = std::min(slot->second, value);
                }
            }
        }
        ASSERT_EQ(tables.optimum(), best_total) << "request " << number;
        for (const auto& [key, value] : best_completion) {
            const auto& [a, p, c] = key;
            EXPECT_EQ(accessors[a].value(tables, p, c), value)
                << "request " << number << ": " << accessors[a].name << "(" << p << ", " << c << ")";
        }
        IndexList main;
        tables.first_main(main);
        std::uint32_t main_mask = 0;
        for (const std::uint64_t p : main) main_mask |= 1U << p;
        EXPECT_EQ(main_mask, first_best) << "request " << number;
    }
}

}  // namespace
}  // namespace kestrava
