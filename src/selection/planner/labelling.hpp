// The planner's one search: a dynamic programme over the periods that labels
// each period as part of the main combination, part of an added cheap block, or
// out, and finds the labelling of least total weight.
//
// A labelling is admissible when its main combination has exactly `size` periods and
// passes every timing rule, and, with blocks allowed, when its added periods are
// whole admissible cheap blocks of that main combination (blocks.hpp says
// which). The weight of a labelling is the sum of the weights of its selected
// periods (main and added). Among labellings of least weight the search returns the
// one whose main combination comes first in lexicographic order of positions: the
// order in which the exhaustive search meets combinations of one size.
#pragma once

#include <span>

#include "selection/period_mask.hpp"
#include "selection/planner/layout.hpp"
#include "selection/planner/prices.hpp"

namespace kestrava::planner {

struct Labelling {
    bool found = false;               // false when no admissible labelling exists
    int128 weight = 0;                // the least total weight
    PeriodMask main_combination = 0;  // the first main combination that reaches it
};

// The search's tables, about 80 kB: too much for a small thread stack, and too costly
// to allocate per search, so each thread makes one at its first request and keeps it.
struct LabellingWorkspace;

// The calling thread's workspace, made at the first call; std::bad_alloc, if that
// allocation fails, is the only way it can throw. Fetch it once per request: a
// thread-local lookup in a shared library is a library call.
LabellingWorkspace& thread_labelling_workspace();

// Preconditions: the layout's rules as the exhaustive search receives them;
// 1 <= size <= n; weights has n entries and sum |weights| < 2^96; the workspace is
// used by no other search meanwhile. Does not allocate.
Labelling lightest_labelling(LabellingWorkspace& workspace, const Layout& layout, int size,
                             std::span<const int128> weights, bool with_blocks) noexcept;

// Whether the search may keep its scores in 64 bits for these weights (sum |weights|
// <= 2^31); otherwise it takes 128-bit scores. Never allocates.
bool narrow_scores_suffice(std::span<const int128> weights) noexcept;

}  // namespace kestrava::planner
