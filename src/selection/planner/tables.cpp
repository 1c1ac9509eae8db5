// The tables' pass (columns of ascending count c, each over falling periods) and the
// forward walk that reads the first main combination back.
//
// Column c needs column c - 1 (a run going on) and column c - R (a run's forced
// head), both already filled. Within a column, exit(e, c) needs start(s, c) for
// s in e + 2 .. e + 1 + G: walking e downward, each start enters the windows once
// and leaves them once.
#include "selection/planner/tables.hpp"

#include <algorithm>

#include "selection/planner/window_minima.hpp"
#include "selection/internal_failure.hpp"

namespace kestrava::planner {
namespace {

// States filled between two polls of the stop check: well under a millisecond at
// 64 bits and a few at 512.
constexpr std::size_t states_between_polls = 4096;

}  // namespace

template <class Int>
void Tables<Int>::reset(const rules::Shape& shape) {
    shape_ = &shape;
    if (!bands_) bands_ = std::make_unique<rules::BandCache>();  // moved from
    band_ = &bands_->band_for(shape);
    additions_.reset(shape);
    const auto n = static_cast<std::size_t>(shape.n);
    if (band_->cells() > run_capacity_) {
        runs_ = std::make_unique_for_overwrite<Int[]>(band_->cells());
        run_capacity_ = band_->cells();
    }
    // Plain columns use starts_, gap_keys_, taken_keys_ and block_right_ as scratch of
    // up to 2n keys (a column's periods and one gap beyond).
    starts_.resize(2 * n);
    gap_keys_.resize(2 * n);
    block_right_.resize(2 * n);
    taken_keys_.resize(2 * n);
    window_slots_.resize(3 * (n + 1));
}

template <class Int>
bool Tables<Int>::build(std::span<const Int> weights, bool with_additions, const StopCheck& stop) noexcept {
    additions_.assign(weights, with_additions);
    if (stop.stop_requested()) return false;
    fill_final_column();
    mark_stalled(0);
    std::size_t since_poll = 0;
    for (int c = 1; c < shape_->size; ++c) {
        since_poll += static_cast<std::size_t>(with_additions ? fill_column(c) : fill_plain_column(c));
        mark_stalled(c);
        if (since_poll >= states_between_polls) {
            since_poll = 0;
            if (stop.stop_requested()) return false;
        }
    }
    optimum_ = least_lead_total();
    return true;
}

// c = 0: nothing follows, so a run ends here and only the trailing gap remains.
template <class Int>
void Tables<Int>::fill_final_column() noexcept {
    const int n = shape_->n;
    for (int p = band_->first(0); p <= band_->last(0); ++p) {
        Int value = unreachable();
        if (p == n - 1) {
            value = Int{};
        } else if (n - 1 - p <= shape_->max_gap) {
            value = additions_.trailing(p);
        }
        runs_[band_->cell(p, 0)] = value;
    }
}

// A run min_run long at a stalled period would hold a blocked one: no start reads such
// a state, nor does a run go on onto a blocked period. Nothing is stalled without a
// mask, and the passes above run as they are.
template <class Int>
void Tables<Int>::mark_stalled(int c) noexcept {
    const int first = band_->first(c);
    const int last = band_->last(c);
    for (const rules::PeriodStretch& stretch : shape_->stalled) {
        const int to = std::min(last, stretch.last);
        for (int p = std::max(first, stretch.first); p <= to; ++p) runs_[band_->cell(p, c)] = unreachable_;
    }
}

// Returns the number of periods walked. Where few exits follow a cheap period, the
// column is filled from arrays as the plain one is; otherwise by monotone windows,
// which stay linear however the cheap periods lie.
template <class Int>
int Tables<Int>::fill_column(int c) noexcept {
    const int first = band_->first(c);
    const int last = band_->last(c);
    if (first > last) return 0;
    const Column heads_end = column(c - shape_->min_run);
    const int highest = highest_start(c, heads_end);
    if (fits_arrays(first, last)) {
        fill_column_from_arrays(c, heads_end, highest);
        return last - first + shape_->max_gap;
    }
    return fill_column_by_windows(c, heads_end, highest);
}

// c main periods from a start s need s <= n - c, and a head that ends inside the band
// of column c - R (or, for c < R, a run too short that ends at n - 1).
template <class Int>
int Tables<Int>::highest_start(int c, const Column& heads_end) const noexcept {
    const int min_run = shape_->min_run;
    const int last_reachable_start = c >= min_run ? heads_end.last - min_run + 1 : shape_->n - c;
    return std::min({shape_->n - 1, shape_->n - c, last_reachable_start});
}

// The arrays scan the starts after each exit e whose next period is cheap, up to G of
// them; this bounds those scans by a few times the column's own work.
template <class Int>
bool Tables<Int>::fits_arrays(int first, int last) const noexcept {
    constexpr std::int64_t scans_per_key = 4;
    std::int64_t after_cheap = 0;
    for (int e = first; e <= last; ++e) after_cheap += shape_->is_cheap(e + 1) ? 1 : 0;
    return after_cheap * shape_->max_gap <= scans_per_key * (last - first + shape_->max_gap);
}

// start(s, c), as start_value(s, c), with the column of the head's end at hand.
template <class Int>
Int Tables<Int>::start_from(int s, int c, const Column& heads_end) const noexcept {
    if (s + shape_->min_run <= shape_->n) return additions_.run_head(s) + heads_end.at(s + shape_->min_run - 1);
    return c == shape_->n - s ? additions_.run_head(s) : unreachable_;
}

// The monotone windows: walking e downward, each start enters once and leaves once.
template <class Int>
int Tables<Int>::fill_column_by_windows(int c, const Column& heads_end, int highest) noexcept {
    const int first = band_->first(c);
    const int last = band_->last(c);
    const Column shorter = column(c - 1);
    // Starts up to last + 1 + G can follow the band's highest end; they enter at e = s - 2.
    const int top = std::max(last, std::min(highest, last + 1 + shape_->max_gap) - 2);
    const std::size_t slots = window_slots_.size() / 3;
    const std::span<int> all_slots(window_slots_);
    Windows windows{MinWindow(all_slots.first(slots)), MinWindow(all_slots.subspan(slots, slots)),
                    MinWindow(all_slots.last(slots))};
    int next_gap_start = std::min(highest, top + 2) + 1;
    Int* cells = &runs_[band_->cell(first, c)];
    const int n = shape_->n;
    for (int e = top; e >= first; --e) {
        if (e + 2 <= highest) enter_start(e + 2, c, heads_end, windows);
        next_gap_start = slide_windows(e, next_gap_start, windows);
        if (e > last) continue;
        const Int going_on = e + 1 < n ? additions_.weight(e + 1) + shorter.at(e + 1) : unreachable_;
        cells[e - first] = std::min(going_on, exit_from_windows(e, windows));
    }
    return top - first + 1;
}

// The arrays: starts_ and gap_keys_ hold start(s, c) and its key for a gap that is not
// wholly cheap, for s = first + 2 .. last + 1 + G. An exit before a period that is not
// cheap takes the least key of its whole window (window_minima.hpp); one before a
// cheap period scans its starts, as the windows would have split them.
template <class Int>
void Tables<Int>::fill_column_from_arrays(int c, const Column& heads_end, int highest) noexcept {
    const int first = band_->first(c);
    const int last = band_->last(c);
    const int lowest = first + 2;
    const auto count = static_cast<std::size_t>(last - first + shape_->max_gap);
    for (std::size_t i = 0; i < count; ++i) {
        const int s = lowest + static_cast<int>(i);
        starts_[i] = s <= highest ? start_from(s, c, heads_end) : unreachable_;
        gap_keys_[i] = s <= highest ? starts_[i] + additions_.before_start(s) : unreachable_;
    }
    const WindowMinima<Int> windows(std::span<const Int>(gap_keys_.data(), count), shape_->max_gap,
                                    std::span<Int>(taken_keys_.data(), count),
                                    std::span<Int>(block_right_.data(), count));
    const Column shorter = column(c - 1);
    Int* cells = &runs_[band_->cell(first, c)];
    for (int e = first; e <= last; ++e) {
        Int exit = unreachable_;
        if (shape_->is_cheap(e + 1)) {
            exit = scanned_exit(e, lowest, highest);
        } else if (e + 2 <= highest) {
            exit = additions_.after_end(e) + windows.least(e - first);
        }
        const Int going_on = e + 1 < shape_->n ? additions_.weight(e + 1) + shorter.at(e + 1) : unreachable_;
        cells[e - first] = std::min(going_on, exit);
    }
}

// exit(e, c) before a cheap period e + 1: the starts up to the end of its run close a
// wholly cheap gap, its block left out or added; the later ones a gap that is not.
template <class Int>
Int Tables<Int>::scanned_exit(int e, int lowest, int highest) const noexcept {
    const int farthest = std::min(e + 1 + shape_->max_gap, highest);
    const int wholly_cheap_until = additions_.wholly_cheap_until(e);
    Int best = unreachable_;
    const int cheap_end = std::min(wholly_cheap_until, farthest);
    for (int s = e + 2; s <= cheap_end; ++s) {
        const Int& start = starts_[at(s - lowest)];
        best = std::min({best, start, start + additions_.prefix(s) - additions_.prefix(e + 1)});
    }
    if (wholly_cheap_until >= farthest) return best;
    Int least_key = gap_keys_[at(wholly_cheap_until + 1 - lowest)];
    for (int s = wholly_cheap_until + 2; s <= farthest; ++s) least_key = std::min(least_key, gap_keys_[at(s - lowest)]);
    return std::min(best, additions_.after_end(e) + least_key);
}

// Without additions a gap weighs nothing: exit(e, c) is the least start(s, c) over
// s = e + 2 .. e + 1 + G, a window over the column's starts, taken only for the e
// whose window holds a start that can reach c periods. The loops run over plain
// arrays, cut to where the columns they read hold values.
template <class Int>
int Tables<Int>::fill_plain_column(int c) noexcept {
    const int first = band_->first(c);
    const int last = band_->last(c);
    if (first > last) return 0;
    const int gap = shape_->max_gap;
    const StartRange reachable = reachable_starts(c, first + 2, last + 1 + gap);
    Int* cells = &runs_[band_->cell(first, c)];
    std::fill(cells, cells + (last - first + 1), unreachable_);
    const int exits_from = std::max(first, reachable.first - 1 - gap);
    const int exits_to = std::min(last, reachable.last - 2);
    if (exits_from <= exits_to) {
        // Keys for s = exits_from + 2 .. exits_to + 1 + G: every window whole.
        const int lowest = exits_from + 2;
        const auto count = static_cast<std::size_t>(exits_to - exits_from + gap);
        plain_starts(c, lowest, reachable, std::span<Int>(starts_.data(), count));
        const WindowMinima<Int> windows(std::span<const Int>(starts_.data(), count), gap,
                                        std::span<Int>(gap_keys_.data(), count),
                                        std::span<Int>(taken_keys_.data(), count));
        for (int e = exits_from; e <= exits_to; ++e) cells[e - first] = windows.least(e - exits_from);
    }
    // A run going on from e reads column c - 1 at e + 1.
    const Column shorter = column(c - 1);
    const int going_from = std::max(first, shorter.first - 1);
    const int going_to = std::min({last, shorter.last - 1, shape_->n - 2});
    for (int e = going_from; e <= going_to; ++e) {
        Int& cell = cells[e - first];
        cell = std::min(cell, additions_.weight(e + 1) + shorter.cells[e + 1 - shorter.first]);
    }
    return last - first + 1;
}

// The starts in lowest .. highest that may hold c periods (first > last when none):
// those whose forced head ends in the band of column c - R, and the start n - c of a
// run too short for R when c < R.
template <class Int>
typename Tables<Int>::StartRange Tables<Int>::reachable_starts(int c, int lowest, int highest) const noexcept {
    const int n = shape_->n;
    const int min_run = shape_->min_run;
    highest = std::min({highest, n - 1, n - c});
    if (c < min_run) return n - c >= lowest && n - c <= highest ? StartRange{n - c, n - c} : StartRange{};
    const Column heads_end = column(c - min_run);
    return {std::max(lowest, heads_end.first - min_run + 1),
            std::min({highest, heads_end.last - min_run + 1, n - min_run})};
}

// keys[i] = start(lowest + i, c), unreachable outside `reachable`: the forced head and
// the run of column c - R at its end, or the run to the last period that holds
// exactly c periods when c < R.
template <class Int>
void Tables<Int>::plain_starts(int c, int lowest, const StartRange& reachable, std::span<Int> keys) const noexcept {
    std::fill(keys.begin(), keys.end(), unreachable_);
    const int min_run = shape_->min_run;
    if (c < min_run) {
        if (reachable.first <= reachable.last) keys[at(reachable.first - lowest)] = additions_.run_head(reachable.first);
        return;
    }
    const Column heads_end = column(c - min_run);
    for (int s = reachable.first; s <= reachable.last; ++s) {
        keys[at(s - lowest)] = additions_.run_head(s) + heads_end.cells[s + min_run - 1 - heads_end.first];
    }
}

template <class Int>
typename Tables<Int>::Column Tables<Int>::column(int c) const noexcept {
    if (c < 0 || band_->first(c) > band_->last(c)) return Column{};
    return Column{&runs_[band_->cell(band_->first(c), c)], band_->first(c), band_->last(c)};
}

// start(s, c) and its keys; a start after a cheap period may close a wholly cheap gap.
template <class Int>
void Tables<Int>::enter_start(int s, int c, const Column& heads_end, Windows& windows) noexcept {
    const Int start = start_from(s, c, heads_end);
    starts_[at(s)] = start;
    gap_keys_[at(s)] = start + additions_.before_start(s);
    // s >= 2: it enters the windows at e = s - 2 >= 0.
    if (shape_->cheap[at(s - 1)] != 0) {
        taken_keys_[at(s)] = start + additions_.prefix(s);
        windows.kept.enter(s, starts_.data());
        windows.taken.enter(s, taken_keys_.data());
    }
}

// Brings the windows to the starts that may follow a run ending at e: a gap of at
// most G, split at the end of the cheap run at e + 1 into wholly cheap gaps (below)
// and the others (above). Returns the lowest start entered into the gap window.
template <class Int>
int Tables<Int>::slide_windows(int e, int next_gap_start, Windows& windows) const noexcept {
    const int farthest = e + 1 + shape_->max_gap;
    const int wholly_cheap_until = additions_.wholly_cheap_until(e);
    // Starts already computed (>= e + 2) whose gap after e is not wholly cheap.
    while (next_gap_start - 1 > wholly_cheap_until) {
        --next_gap_start;
        windows.gap.enter(next_gap_start, gap_keys_.data());
    }
    windows.gap.drop_above(farthest);
    const int wholly_cheap_end = std::min(wholly_cheap_until, farthest);
    windows.kept.drop_above(wholly_cheap_end);
    windows.taken.drop_above(wholly_cheap_end);
    return next_gap_start;
}

template <class Int>
Int Tables<Int>::exit_from_windows(int e, const Windows& windows) const noexcept {
    Int best = unreachable();
    if (!windows.gap.empty()) best = additions_.after_end(e) + gap_keys_[at(windows.gap.least())];
    if (!windows.kept.empty()) best = std::min(best, starts_[at(windows.kept.least())]);
    if (!windows.taken.empty()) {
        best = std::min(best, taken_keys_[at(windows.taken.least())] - additions_.prefix(e + 1));
    }
    return best;
}

template <class Int>
Int Tables<Int>::continue_value(int p, int c) const noexcept {
    if (p + 1 >= shape_->n || !band_->holds(p + 1, c - 1)) return unreachable();
    return additions_.weight(p + 1) + runs_[band_->cell(p + 1, c - 1)];
}

template <class Int>
Int Tables<Int>::run_value(int p, int c) const noexcept {
    return band_->holds(p, c) ? runs_[band_->cell(p, c)] : unreachable();
}

template <class Int>
Int Tables<Int>::start_value(int s, int c) const noexcept {
    const int min_run = shape_->min_run;
    if (s + min_run > shape_->n) return c == shape_->n - s ? additions_.run_head(s) : unreachable();
    if (!band_->holds(s + min_run - 1, c - min_run)) return unreachable();
    return additions_.run_head(s) + runs_[band_->cell(s + min_run - 1, c - min_run)];
}

template <class Int>
int Tables<Int>::head_length(int s) const noexcept {
    return s == 0 && shape_->carried_head > 0 ? shape_->carried_head : shape_->min_run;
}

template <class Int>
Int Tables<Int>::first_start_value(int s, int c) const noexcept {
    if (s != 0 || shape_->carried_head == 0) return start_value(s, c);
    // Joined to the carried run, a run from 0 needs carried_head periods; taking every
    // period (k = n) is answered before the tables.
    const int head = shape_->carried_head;
    if (head > shape_->n || !band_->holds(head - 1, c - head)) return unreachable();
    return additions_.prefix(head) + runs_[band_->cell(head - 1, c - head)];
}

template <class Int>
Int Tables<Int>::exit_value(int e, int c) const noexcept {
    const int n = shape_->n;
    if (c == 0) {
        if (e == n - 1) return Int{};
        return n - 1 - e <= shape_->max_gap ? additions_.trailing(e) : unreachable();
    }
    Int best = unreachable();
    const int farthest = std::min(e + 1 + shape_->max_gap, n - 1);
    for (int s = e + 2; s <= farthest; ++s) best = std::min(best, additions_.between(e, s) + start_value(s, c));
    return best;
}

template <class Int>
Int Tables<Int>::least_lead_total() const noexcept {
    Int best = unreachable();
    for (int s = 0; s <= shape_->max_lead; ++s) {
        best = std::min(best, additions_.lead(s) + first_start_value(s, shape_->size));
    }
    return best;
}

template <class Int>
int Tables<Int>::first_start_after(int e, int c, const Int& target) const {
    const int farthest = std::min(e + 1 + shape_->max_gap, shape_->n - 1);
    // As in the passes, start_from reads an unreachable state as a value far above every
    // reachable one, so it never equals the target.
    const Column heads_end = column(c - shape_->min_run);
    for (int s = e + 2; s <= farthest; ++s) {
        if (additions_.between(e, s) + start_from(s, c, heads_end) == target) return s;
    }
    throw InternalFailure("The planner's tables hold no start that reaches their optimum");
}

template <class Int>
void Tables<Int>::first_main(IndexList& main) const {
    if (!is_reachable(optimum_)) throw InternalFailure("The planner found no valid main combination");
    const int n = shape_->n;
    int c = shape_->size;
    int s = 0;
    while (additions_.lead(s) + first_start_value(s, c) != optimum_) {
        if (++s > shape_->max_lead) throw InternalFailure("The planner's tables hold no first start");
    }
    for (;;) {
        // A run too short for R goes to the last period; otherwise its head is forced.
        const int head = head_length(s);
        const int head_end = std::min(s + head, n);
        for (int p = s; p < head_end; ++p) main.push_back(static_cast<std::uint64_t>(p));
        if (head_end == n) return;
        int p = head_end - 1;
        c -= head;
        Int target = run_value(p, c);
        // Going on puts p + 1 next, before any later start.
        while (c > 0 && continue_value(p, c) == target) {
            ++p;
            --c;
            target = target - additions_.weight(p);
            main.push_back(static_cast<std::uint64_t>(p));
        }
        if (c == 0) return;
        s = first_start_after(p, c, target);
    }
}

template <class Int>
std::size_t Tables<Int>::workspace_bytes() const noexcept {
    // The run table, the per-column key arrays and the additions' arrays (seven per
    // period, and one of ends), the windows' slots and the bands kept; none before the
    // first reset().
    const std::size_t keys = starts_.capacity() + gap_keys_.capacity() + taken_keys_.capacity() +
                             block_right_.capacity();
    const std::size_t periods = starts_.capacity() / 2;
    return (run_capacity_ + keys + 7 * periods) * sizeof(Int) + (3 * (periods + 1) + periods) * sizeof(int) +
           bands_->held_bytes();
}

template class Tables<std::int64_t>;
template class Tables<__int128>;
template class Tables<FixedInt<4>>;
template class Tables<FixedInt<8>>;

}  // namespace kestrava::planner
