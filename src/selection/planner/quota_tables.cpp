// The quota tables' pass (columns of ascending count c, each over its band's periods
// and every day count) and the forward walk that reads the first main combination.
#include "selection/planner/quota_tables.hpp"

#include <algorithm>

#include "selection/internal_failure.hpp"

namespace kestrava::planner {
namespace {

constexpr std::size_t states_between_polls = 4096;

}  // namespace

template <class Int>
void QuotaTables<Int>::reset(const rules::Shape& shape) {
    shape_ = &shape;
    if (!bands_) bands_ = std::make_unique<rules::BandCache>();
    band_ = &bands_->band_for(shape);
    days_.assign(shape);
    additions_.reset(shape);
    slots_ = static_cast<std::size_t>(days_.max_quota()) + 1;
    runs_.resize(band_->cells() * slots_);
    const std::size_t keys = slots_ * at(shape.n);
    kept_keys_.resize(keys);
    gap_keys_.resize(keys);
    taken_keys_.resize(keys);
    window_slots_.resize((slots_ + 1) * 3 * (at(shape.n) + 1));
    own_windows_.reserve(slots_);
    blocked_before_.assign(at(shape.n) + 1, 0);
    for (int p = 0; p < shape.n; ++p) {
        const bool blocked = !shape.allowed.empty() && shape.allowed[at(p)] == 0;
        blocked_before_[at(p + 1)] = blocked_before_[at(p)] + (blocked ? 1 : 0);
    }
}

template <class Int>
bool QuotaTables<Int>::build(std::span<const Int> weights, bool with_additions, const StopCheck& stop) noexcept {
    additions_.assign(weights, with_additions);
    std::size_t since_poll = 0;
    for (int c = 0; c < shape_->size; ++c) {
        fill_column(c);
        since_poll += at(std::max(0, band_->last(c) - band_->first(c) + 1)) * slots_;
        if (since_poll >= states_between_polls) {
            since_poll = 0;
            if (stop.stop_requested()) return false;
        }
    }
    optimum_ = unreachable_;
    for (int s = 0; s <= shape_->max_lead; ++s) {
        const Int first = first_start(s, shape_->size);
        if (is_reachable(first)) optimum_ = std::min(optimum_, additions_.lead(s) + first);
    }
    return true;
}

// c = 0: nothing follows, so only the trailing gap remains.
template <class Int>
void QuotaTables<Int>::fill_final_column() noexcept {
    for (int p = band_->first(0); p <= band_->last(0); ++p) {
        const int quota = days_.quota(days_.day(p));
        const std::size_t cell = band_->cell(p, 0) * slots_;
        for (int q = std::min(1, quota); q <= quota; ++q) runs_[cell + at(q)] = trailing(p, q);
    }
}

// A main period's count is at least 1 unless its day's quota is 0, so slots below
// that are never read. The column's exits read starts up to G past its band.
template <class Int>
void QuotaTables<Int>::fill_column(int c) noexcept {
    if (c == 0) return fill_final_column();
    const int first = band_->first(c);
    const int last = band_->last(c);
    if (first > last) return;
    const int lowest = first + 2;
    const int highest = std::min(last + 1 + shape_->max_gap, shape_->n - 1);
    fill_keys(c, lowest, highest);
    for (int day = days_.day(last); day >= days_.day(first); --day) fill_day(c, day, lowest, highest);
}

// A count before s above the day's periods before s, or so low that the rest of the
// day cannot make up the quota, lies on no selection: its keys read unreachable. The
// later days' windows read count 0 of every start, live or not.
template <class Int>
void QuotaTables<Int>::fill_keys(int c, int lowest, int highest) noexcept {
    for (int s = lowest; s <= highest; ++s) {
        const int day = days_.day(s);
        const CountRange live = live_counts(c, day);
        const int least = std::max(live.first, days_.quota(day) - (days_.last(day) - s + 1));
        const int most = std::min(live.last, s - days_.first(day));
        if (live.first > 0 || live.last < 0) set_keys(0, s, unreachable_);
        for (int q = live.first; q <= live.last; ++q) {
            set_keys(q, s, q >= least && q <= most ? start(s, c, q) : unreachable_);
        }
    }
}

template <class Int>
void QuotaTables<Int>::set_keys(int q, int s, const Int& start_value) noexcept {
    const std::size_t key = key_at(q, s);
    kept_keys_[key] = start_value;
    if (!additions_.adds_blocks()) return;
    gap_keys_[key] = start_value + additions_.before_start(s);
    taken_keys_[key] = start_value + additions_.prefix(s);
}

// Group g's windows (g < slots_: the own day's at count g; g = slots_: the later
// days'), empty, for starts at or below `top`.
template <class Int>
typename QuotaTables<Int>::ExitWindows QuotaTables<Int>::windows_for(std::size_t group, int q, int top) noexcept {
    const std::size_t size = at(shape_->n) + 1;
    int* slots = window_slots_.data() + group * 3 * size;
    const std::size_t key = key_at(q, 0);
    return ExitWindows{MinWindow(std::span<int>(slots, size)), MinWindow(std::span<int>(slots + size, size)),
                       MinWindow(std::span<int>(slots + 2 * size, size)), kept_keys_.data() + key,
                       gap_keys_.data() + key, taken_keys_.data() + key, top + 1, top + 1};
}

// Enters the starts down to `lowest`: every one without additions, else those that
// may close a wholly cheap gap (the gap window takes the others as the exit falls).
template <class Int>
void QuotaTables<Int>::take_in(ExitWindows& windows, int lowest) const noexcept {
    while (windows.entered > lowest) {
        const int s = --windows.entered;
        if (!additions_.adds_blocks()) {
            windows.kept.enter(s, windows.kept_keys);
        } else if (shape_->cheap[at(s - 1)] != 0) {
            windows.kept.enter(s, windows.kept_keys);
            windows.taken.enter(s, windows.taken_keys);
        }
    }
}

// The least of between(e, s) + start over the entered starts in lowest .. highest.
template <class Int>
Int QuotaTables<Int>::least_exit(ExitWindows& windows, int e, int lowest, int highest) const noexcept {
    if (lowest > highest) return unreachable_;
    take_in(windows, lowest);
    if (!additions_.adds_blocks()) {
        windows.kept.drop_above(highest);
        return windows.kept.empty() ? unreachable_ : windows.kept_keys[windows.kept.least()];
    }
    const int wholly_cheap_until = additions_.wholly_cheap_until(e);
    while (windows.next_gap_start - 1 > wholly_cheap_until && windows.next_gap_start - 1 >= windows.entered) {
        --windows.next_gap_start;
        windows.gap.enter(windows.next_gap_start, windows.gap_keys);
    }
    windows.gap.drop_above(highest);
    const int wholly_cheap_end = std::min(wholly_cheap_until, highest);
    windows.kept.drop_above(wholly_cheap_end);
    windows.taken.drop_above(wholly_cheap_end);
    Int best = unreachable_;
    if (!windows.gap.empty()) best = additions_.after_end(e) + windows.gap_keys[windows.gap.least()];
    if (!windows.kept.empty()) best = std::min(best, windows.kept_keys[windows.kept.least()]);
    if (!windows.taken.empty()) {
        best = std::min(best, windows.taken_keys[windows.taken.least()] - additions_.prefix(e + 1));
    }
    return settled(best);
}

// The run states of `day` in column c, walking down: each count's own-day windows,
// and the later days' windows, which only a count that meets the day's quota may use.
template <class Int>
void QuotaTables<Int>::fill_day(int c, int day, int lowest, int highest) noexcept {
    const int top = std::min(band_->last(c), days_.last(day));
    const int bottom = std::max(band_->first(c), days_.first(day));
    const int quota = days_.quota(day);
    const CountRange live = live_counts(c, day);
    const int least_count = std::max(std::min(1, quota), live.first);
    if (least_count > live.last) return;
    const int own_top = std::min(highest, days_.last(day));
    const int later_first = days_.last(day) + 1;
    const int later_top = std::min(highest, days_.reach(day));
    own_windows_.clear();  // within the capacity reserved: no allocation
    for (int q = least_count; q <= live.last; ++q) own_windows_.push_back(windows_for(at(q), q, own_top));
    ExitWindows later = windows_for(slots_, 0, later_top);
    for (int e = top; e >= bottom; --e) {
        const int farthest = e + 1 + shape_->max_gap;
        const Int later_exit =
            least_exit(later, e, std::max({e + 2, later_first, lowest}), std::min(farthest, later_top));
        const int own_lowest = std::max(e + 2, lowest);
        const int own_highest = std::min(farthest, own_top);
        const std::size_t cell = band_->cell(e, c) * slots_;
        // Counts through e that the day's periods rule out, as in fill_keys.
        const int least = quota - (days_.last(day) - e);
        const int most = e - days_.first(day) + 1;
        for (int q = least_count; q <= live.last; ++q) {
            if (q < least || q > most) {
                runs_[cell + at(q)] = unreachable_;
                continue;
            }
            Int exit = least_exit(own_windows_[at(q - least_count)], e, own_lowest, own_highest);
            if (days_.met(day, q)) exit = std::min(exit, later_exit);
            runs_[cell + at(q)] = settled(std::min(going_on(e, c, q), exit));
        }
    }
}

template <class Int>
typename QuotaTables<Int>::CountRange QuotaTables<Int>::live_counts(int c, int day) const noexcept {
    const int quota = days_.quota(day);
    return {std::max(0, quota + days_.quota_after(day) - c),
            std::min(quota, shape_->size - c - days_.quota_before(day))};
}

// Only live counts are stored (fill_day); the others read unreachable.
template <class Int>
Int QuotaTables<Int>::run(int p, int c, int q) const noexcept {
    if (!band_->holds(p, c)) return unreachable_;
    const CountRange live = live_counts(c, days_.day(p));
    return q >= live.first && q <= live.last ? runs_[band_->cell(p, c) * slots_ + at(q)] : unreachable_;
}

// A run from s: its forced head of R periods, or, when fewer than R remain, the run to
// the last period (refused by the strict end).
template <class Int>
Int QuotaTables<Int>::start(int s, int c, int before) const noexcept {
    const int n = shape_->n;
    const int min_run = shape_->min_run;
    if (s + min_run <= n) {
        if (c < min_run || !allowed_through(s, s + min_run - 1)) return unreachable_;
        const std::optional<int> q = days_.through(s, min_run, before);
        if (!q) return unreachable_;
        const Int rest = run(s + min_run - 1, c - min_run, *q);
        return is_reachable(rest) ? additions_.run_head(s) + rest : unreachable_;
    }
    if (shape_->strict_end || c != n - s || !allowed_through(s, n - 1)) return unreachable_;
    const std::optional<int> q = days_.through(s, n - s, before);
    return q && days_.end_allowed(n - 1, *q) ? additions_.run_head(s) : unreachable_;
}

template <class Int>
int QuotaTables<Int>::head_length(int s) const noexcept {
    return s == 0 && shape_->carried_head > 0 ? shape_->carried_head : shape_->min_run;
}

// The first run, after a leading gap of s periods: from 0 it joins a carried run and
// needs only carried_head periods (taking every period is answered before the tables).
template <class Int>
Int QuotaTables<Int>::first_start(int s, int c) const noexcept {
    if (!days_.lead_allowed(s)) return unreachable_;
    if (s != 0 || shape_->carried_head == 0) return start(s, c, 0);
    const int head = shape_->carried_head;
    if (head > shape_->n || c < head || !allowed_through(0, head - 1)) return unreachable_;
    const std::optional<int> q = days_.through(0, head, 0);
    if (!q) return unreachable_;
    const Int rest = run(head - 1, c - head, *q);
    return is_reachable(rest) ? additions_.prefix(head) + rest : unreachable_;
}

template <class Int>
Int QuotaTables<Int>::going_on(int p, int c, int q) const noexcept {
    if (c == 0 || p + 1 >= shape_->n || !allowed_through(p + 1, p + 1)) return unreachable_;
    const std::optional<int> next = days_.stepped(p, q);
    if (!next) return unreachable_;
    const Int rest = run(p + 1, c - 1, *next);
    return is_reachable(rest) ? additions_.weight(p + 1) + rest : unreachable_;
}

template <class Int>
Int QuotaTables<Int>::trailing(int e, int q) const noexcept {
    if (!days_.end_allowed(e, q)) return unreachable_;
    if (e == shape_->n - 1) return Int{};
    return shape_->n - 1 - e <= shape_->max_gap ? additions_.trailing(e) : unreachable_;
}

template <class Int>
int QuotaTables<Int>::first_start_after(int e, int c, int q, const Int& target) const {
    const int farthest = std::min(e + 1 + shape_->max_gap, shape_->n - 1);
    for (int s = e + 2; s <= farthest; ++s) {
        const std::optional<int> before = days_.across_gap(e, q, s);
        if (!before) continue;
        const Int value = start(s, c, *before);
        if (is_reachable(value) && additions_.between(e, s) + value == target) return s;
    }
    throw InternalFailure("The planner's quota tables hold no start that reaches their optimum");
}

// As Tables<Int>::first_main, carrying the day count along the walk.
template <class Int>
void QuotaTables<Int>::first_main(IndexList& main) const {
    if (!is_reachable(optimum_)) throw InternalFailure("The planner found no valid main combination");
    const int n = shape_->n;
    int c = shape_->size;
    int s = 0;
    for (;; ++s) {
        if (s > shape_->max_lead) throw InternalFailure("The planner's quota tables hold no first start");
        const Int first = first_start(s, c);
        if (is_reachable(first) && additions_.lead(s) + first == optimum_) break;
    }
    int before = 0;
    for (;;) {
        const int head = head_length(s);
        const int head_end = std::min(s + head, n);
        for (int p = s; p < head_end; ++p) main.push_back(static_cast<std::uint64_t>(p));
        if (head_end == n) return;
        int q = *days_.through(s, head, before);
        int p = head_end - 1;
        c -= head;
        Int target = run(p, c, q);
        while (c > 0 && going_on(p, c, q) == target) {
            q = *days_.stepped(p, q);
            ++p;
            --c;
            target = target - additions_.weight(p);
            main.push_back(static_cast<std::uint64_t>(p));
        }
        if (c == 0) return;
        const int next = first_start_after(p, c, q, target);
        before = *days_.across_gap(p, q, next);
        s = next;
    }
}

template <class Int>
std::size_t QuotaTables<Int>::workspace_bytes() const noexcept {
    return runs_.capacity() * sizeof(Int) + blocked_before_.capacity() * sizeof(int) + bands_->held_bytes();
}

std::optional<int> smallest_size_with_quota(const rules::Shape& shape, int from) {
    rules::Shape trial = shape;
    const std::vector<std::int64_t> nothing(static_cast<std::size_t>(shape.n), 0);
    QuotaTables<std::int64_t> tables;
    for (int size = std::max(from, 1); size < shape.n; ++size) {
        trial.size = size;
        tables.reset(trial);
        tables.build(nothing, false, StopCheck{});
        if (QuotaTables<std::int64_t>::is_reachable(tables.optimum())) return size;
    }
    return std::nullopt;
}

template class QuotaTables<std::int64_t>;
template class QuotaTables<__int128>;
template class QuotaTables<FixedInt<4>>;
template class QuotaTables<FixedInt<8>>;

}  // namespace kestrava::planner
