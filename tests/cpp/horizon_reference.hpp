// A slow, explicit-state reference for the horizon planner's answers, written from
// the definition and sharing no code with it: one state per (period, main periods
// so far, tail, cheap-block label), where the tail says whether no main period came
// yet, how long the current run is (capped at min_run), or how long the current gap
// is; the label says whether the cheap block in progress is left out, added after a
// main period, or added after an out period. Its k comes from reachability, not a
// formula; the lowest average from Dinkelbach rounds over this programme; the
// answer's blocks from a literal check of every run.
#pragma once

#include <algorithm>
#include <cstdint>
#include <tuple>
#include <utility>
#include <vector>

namespace kestrava::testing {

struct ReferenceRequest {
    std::vector<std::int64_t> prices;  // integer units; small enough that every sum fits
    std::vector<bool> cheap;
    int min_selections = 1;
    int min_run = 1;
    int max_gap = 0;   // at most n - 1
    int max_lead = 0;  // at most max_gap
};

// The literal rule check: leading gap, every gap and the trailing one, every run.
inline bool reference_valid(const ReferenceRequest& r, const std::vector<bool>& chosen) {
    const int n = static_cast<int>(chosen.size());
    int previous = -1;
    for (int p = 0; p < n; ++p) {
        if (!chosen[p]) continue;
        if (previous < 0 && p > r.max_lead) return false;
        if (previous >= 0 && p - previous - 1 > r.max_gap) return false;
        previous = p;
    }
    if (previous < 0 || n - 1 - previous > r.max_gap) return false;
    for (int p = 0; p < n;) {
        if (!chosen[p]) {
            ++p;
            continue;
        }
        int end = p;
        while (end + 1 < n && chosen[end + 1]) ++end;
        if (end - p + 1 < r.min_run && end != n - 1) return false;
        p = end + 1;
    }
    return true;
}

class ReferencePlanner {
public:
    explicit ReferencePlanner(const ReferenceRequest& request)
        : r_(request), n_(static_cast<int>(request.prices.size())) {
        // A gap limit of n - 1 never binds, so one gap tail then serves for every length.
        gap_never_binds_ = r_.max_gap >= n_ - 1;
        gap_tails_ = gap_never_binds_ ? 1 : r_.max_gap;
        tails_ = 1 + r_.min_run + gap_tails_;
        k_ = smallest_reachable_size();
    }

    int size() const { return k_; }

    std::vector<int> aggressive() {
        std::vector<std::int64_t> weights = r_.prices;
        std::vector<bool> main = first_main(weights, false);
        auto [cost, count] = best_merge(main);
        for (;;) {
            for (int p = 0; p < n_; ++p) weights[p] = count * r_.prices[p] - cost;
            main = first_main(weights, true);
            if (value_[index(0, 0, 0, none)] == 0) break;
            std::tie(cost, count) = best_merge(main);
        }
        return answer(main,
                      [&](std::int64_t block_cost, std::int64_t size) { return block_cost * count < cost * size; });
    }

    std::vector<int> conservative() {
        const std::vector<bool> main = first_main(r_.prices, false);
        return answer(main, [](std::int64_t, std::int64_t) { return true; });
    }

private:
    static constexpr std::int64_t infinity = std::int64_t{1} << 60;
    enum Label { none, left_out, added_touching, added_detached, label_count };

    // Tail 0: no main period yet; 1 .. R: in a run of that length (capped); R + g: a gap of g.
    int run_tail(int length) const { return std::min(length, r_.min_run); }
    int gap_tail(int length) const { return r_.min_run + length; }
    std::size_t index(int p, int c, int tail, int label) const {
        return ((static_cast<std::size_t>(p) * (k_ + 1) + c) * tails_ + tail) * label_count + label;
    }

    // The fewest main periods from min_selections up for which the end is reachable.
    int smallest_reachable_size() const {
        std::vector<std::vector<bool>> reach(n_ + 1, std::vector<bool>(tails_, false));  // [c][tail]
        reach[0][0] = true;
        for (int p = 0; p < n_; ++p) {
            std::vector<std::vector<bool>> next(n_ + 1, std::vector<bool>(tails_, false));
            for (int c = 0; c <= p; ++c) {
                for (int tail = 0; tail < tails_; ++tail) {
                    if (!reach[c][tail]) continue;
                    const int main_tail = main_step(p, tail);
                    if (main_tail >= 0) next[c + 1][main_tail] = true;
                    const int out_tail = out_step(p, tail);
                    if (out_tail >= 0) next[c][out_tail] = true;
                }
            }
            reach = std::move(next);
        }
        for (int c = r_.min_selections; c <= n_; ++c) {
            for (int tail = 1; tail < tails_; ++tail) {
                if (reach[c][tail]) return c;
            }
        }
        return -1;
    }

    // The tail after period p joins the main combination, or -1 when it may not.
    int main_step(int p, int tail) const {
        if (tail == 0) return p <= r_.max_lead ? run_tail(1) : -1;
        if (tail <= r_.min_run) return run_tail(tail + 1);
        return run_tail(1);
    }
    // The tail after period p stays out, or -1 when it may not.
    int out_step(int p, int tail) const {
        if (tail == 0) return p + 1 <= r_.max_lead ? 0 : -1;
        if (tail < r_.min_run) return -1;  // a run would end too short before an out period
        const int gap = tail == r_.min_run ? 1 : tail - r_.min_run + 1;
        if (gap_never_binds_) return gap_tail(1);
        return gap <= r_.max_gap ? gap_tail(gap) : -1;
    }

    // A block in progress (periods up to p - 1) ends before out period p.
    bool block_may_end_before_out(int p, int label) const {
        if (label != added_detached) return true;
        int first = p - 1;
        while (first > 0 && r_.cheap[first - 1]) --first;  // a detached block is a whole cheap run
        return p - first >= r_.min_run;
    }

    // value_ over every state, from the end backward.
    void fill(const std::vector<std::int64_t>& w, bool with_blocks) {
        value_.assign(index(n_, k_, tails_ - 1, label_count - 1) + 1, infinity);
        for (int tail = 1; tail < tails_; ++tail) {
            for (int label = 0; label < label_count; ++label) value_[index(n_, k_, tail, label)] = 0;
        }
        for (int p = n_ - 1; p >= 0; --p) {
            for (int c = 0; c <= std::min(k_, p); ++c) {
                for (int tail = 0; tail < tails_; ++tail) {
                    for (int label = 0; label < label_count; ++label) {
                        value_[index(p, c, tail, label)] = best_step(w, with_blocks, p, c, tail, label);
                    }
                }
            }
        }
    }

    // A new cheap block at p is added touching the main combination when p - 1 is main.
    int added_label(int tail) const { return tail >= 1 && tail <= r_.min_run ? added_touching : added_detached; }

    // Calls move(joins, next c, next tail, next label, weight) for every move from a
    // state at period p: joining the main combination, or staying out (with the cheap
    // block in progress going on, ending, or starting left out or added).
    template <class Move>
    void for_each_move(const std::vector<std::int64_t>& w, bool with_blocks, int p, int c, int tail, int label,
                       Move move) const {
        const int main_tail = main_step(p, tail);
        if (main_tail >= 0 && c < k_) move(true, c + 1, main_tail, none, w[p]);
        const int out_tail = out_step(p, tail);
        if (out_tail < 0) return;
        const bool in_block = label != none;
        if (!r_.cheap[p]) {
            if (!in_block || block_may_end_before_out(p, label)) move(false, c, out_tail, none, 0);
        } else if (in_block) {
            move(false, c, out_tail, label, label == left_out ? 0 : w[p]);
        } else {
            move(false, c, out_tail, left_out, 0);
            if (with_blocks) move(false, c, out_tail, added_label(tail), w[p]);
        }
    }

    std::int64_t best_step(const std::vector<std::int64_t>& w, bool with_blocks, int p, int c, int tail,
                           int label) const {
        std::int64_t best = infinity;
        for_each_move(w, with_blocks, p, c, tail, label,
                      [&](bool, int next_c, int next_tail, int next_label, std::int64_t cost) {
                          const std::int64_t next = value_[index(p + 1, next_c, next_tail, next_label)];
                          if (next < infinity) best = std::min(best, next + cost);
                      });
        return best;
    }

    // The first main combination in lexicographic order of least weight. Several
    // states (the labels of cheap blocks, which the main combination does not show)
    // can carry optimal prefixes of the same main periods, so all of them are kept:
    // each with its least prefix weight, live when that plus its value is the least
    // weight. Period p joins the main combination when some live state can join
    // and stay optimal.
    std::vector<bool> first_main(const std::vector<std::int64_t>& w, bool with_blocks) {
        fill(w, with_blocks);
        const std::int64_t optimum = value_[index(0, 0, 0, none)];
        const std::size_t per_period = index(1, 0, 0, 0);
        std::vector<std::int64_t> prefix(per_period, infinity);
        prefix[index(0, 0, 0, none)] = 0;
        std::vector<bool> main(n_, false);
        for (int p = 0; p < n_; ++p) {
            std::vector<std::int64_t> next(per_period, infinity);
            for (const bool joining : {true, false}) {
                for (int c = 0; c <= k_; ++c) {
                    for (int tail = 0; tail < tails_; ++tail) {
                        for (int label = 0; label < label_count; ++label) {
                            const std::int64_t before = prefix[index(0, c, tail, label)];
                            if (before >= infinity || before + value_[index(p, c, tail, label)] != optimum) continue;
                            for_each_move(
                                w, with_blocks, p, c, tail, label,
                                [&](bool joins, int next_c, int next_tail, int next_label, std::int64_t cost) {
                                    const std::int64_t after = value_[index(p + 1, next_c, next_tail, next_label)];
                                    if (joins != joining || after >= infinity || before + cost + after != optimum)
                                        return;
                                    std::int64_t& slot = next[index(0, next_c, next_tail, next_label)];
                                    slot = std::min(slot, before + cost);
                                });
                        }
                    }
                }
                main[p] = joining;
                if (std::any_of(next.begin(), next.end(), [](std::int64_t v) { return v < infinity; })) break;
            }
            prefix = std::move(next);
        }
        return main;
    }

    // The cheap blocks of `main` that keep every rule when added alone, by the literal check.
    std::vector<std::pair<int, int>> admissible(const std::vector<bool>& main) const {
        std::vector<std::pair<int, int>> blocks;
        for (int p = 0; p < n_; ++p) {
            if (main[p] || !r_.cheap[p]) continue;
            int last = p;
            while (last + 1 < n_ && !main[last + 1] && r_.cheap[last + 1]) ++last;
            std::vector<bool> merged = main;
            for (int q = p; q <= last; ++q) merged[q] = true;
            if (reference_valid(r_, merged)) blocks.emplace_back(p, last);
            p = last;
        }
        return blocks;
    }

    std::int64_t cost_of(int first, int last) const {
        std::int64_t cost = 0;
        for (int p = first; p <= last; ++p) cost += r_.prices[p];
        return cost;
    }

    // Repeatedly adds every block below the current average until none is.
    std::pair<std::int64_t, std::int64_t> best_merge(const std::vector<bool>& main) const {
        std::int64_t main_cost = 0, main_count = 0;
        for (int p = 0; p < n_; ++p) {
            if (main[p]) main_cost += r_.prices[p], ++main_count;
        }
        const auto blocks = admissible(main);
        std::int64_t cost = main_cost, count = main_count;
        for (;;) {
            std::int64_t next_cost = main_cost, next_count = main_count;
            for (const auto& [first, last] : blocks) {
                const std::int64_t size = last - first + 1;
                if (cost_of(first, last) * count < cost * size) next_cost += cost_of(first, last), next_count += size;
            }
            if (next_cost * count == cost * next_count) return {next_cost, next_count};
            cost = next_cost;
            count = next_count;
        }
    }

    template <class Keep>
    std::vector<int> answer(const std::vector<bool>& main, Keep keep) const {
        std::vector<bool> chosen = main;
        for (const auto& [first, last] : admissible(main)) {
            if (!keep(cost_of(first, last), last - first + 1)) continue;
            for (int p = first; p <= last; ++p) chosen[p] = true;
        }
        std::vector<int> indices;
        for (int p = 0; p < n_; ++p) {
            if (chosen[p]) indices.push_back(p);
        }
        return indices;
    }

    const ReferenceRequest& r_;
    int n_;
    bool gap_never_binds_ = false;
    int gap_tails_ = 0;
    int tails_ = 0;
    int k_ = 0;
    std::vector<std::int64_t> value_;
};

}  // namespace kestrava::testing
