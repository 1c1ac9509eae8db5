// The valid sizes of a plan, by the planner's own backward pass (tables.hpp) with a set
// of counts in place of each state's least weight: the sets are bitsets over the counts
// 0 .. n, and a transition that adds h chosen periods shifts a set by h.
//
//   run(p)   counts c such that "p is chosen, its run already min_run long at p (or
//            joined to the carried run), c chosen periods after p" has a valid end;
//   start(s) counts of the periods from s on, s included, for a run starting at s;
//   run(n-1) = {0};  run(p) = (run(p+1) + 1 if p+1 is allowed) | exit(p);
//   exit(p)  = {0} if n-1-p <= G, | start(s) over s = p+2 .. p+1+G;
//   start(s) = run(s+R-1) + R if s .. s+R-1 are allowed (a forced head), or
//              {n-s} if s+R > n and s .. n-1 are allowed (a last run cut by the end,
//              unless the end is strict);
//   sizes    = start(f) over the first periods f = 0 .. L, where with a carried run
//              f = 0 is its own head: run(h-1) + h if 0 .. h-1 are allowed.
//
// Why exact: a valid selection splits in exactly one way into its leading gap, runs
// and gaps, and each run into its forced head (R periods, the carried head h at 0, or
// the rest of the horizon for a last run shorter than R) and single steps. The
// transitions are those splits, with the rules' tests on each piece: allowed periods
// only, gaps and the trailing gap of at most G, a first period within L (0 when a
// carried run below R must go on), and no last run cut short under a strict end. So c lies in `sizes` exactly when some valid
// selection has c periods. The planner's tables make the same splits with the same
// tests, and their band holds every state of a valid selection (band.hpp), so at this
// size their optimum is reachable.
#include "selection/rules/valid_sizes.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrava::rules {
namespace {

using Word = std::uint64_t;

class SizePass {
public:
    explicit SizePass(const Shape& shape);
    std::optional<int> smallest_from(int min_selections);

private:
    Word* run(int p) noexcept { return &runs_[at(p) * words_]; }
    Word* start(int s) noexcept { return &starts_[at(s) * words_]; }
    static std::size_t at(int p) noexcept { return static_cast<std::size_t>(p); }

    bool allowed_through(int first, int last) const noexcept {
        return blocked_before_[at(last + 1)] == blocked_before_[at(first)];
    }
    void shifted_into(Word* to, const Word* from, int shift) const noexcept;
    void add_count(Word* to, int count) const noexcept { to[at(count / 64)] |= Word{1} << (count % 64); }
    void fill_start(int s) noexcept;
    void fill_run(int p) noexcept;
    void enter_window(int s) noexcept;
    void leave_window() noexcept;
    void head_from_zero(Word* sizes) noexcept;

    const Shape& shape_;
    std::size_t words_;
    std::vector<int> blocked_before_;  // blocked periods below p
    std::vector<Word> runs_;
    std::vector<Word> starts_;
    // The starts of the window, a queue that gains a start below and loses the highest:
    // `back` ORs the starts back_first .. front_first - 1 entered since the last move,
    // front(s) the starts front_first .. s, for s up to front_last.
    std::vector<Word> front_;
    std::vector<Word> back_;
    int back_first_;
    int front_first_;
    int front_last_;
};

SizePass::SizePass(const Shape& shape)
    : shape_(shape),
      words_(at(shape.n) / 64 + 1),
      blocked_before_(at(shape.n) + 1, 0),
      runs_(at(shape.n) * words_, 0),
      starts_(at(shape.n) * words_, 0),
      front_(at(shape.n) * words_, 0),
      back_(words_, 0),
      back_first_(shape.n),
      front_first_(shape.n),
      front_last_(shape.n - 1) {
    for (int p = 0; p < shape.n; ++p) {
        const bool blocked = !shape.allowed.empty() && shape.allowed[at(p)] == 0;
        blocked_before_[at(p + 1)] = blocked_before_[at(p)] + (blocked ? 1 : 0);
    }
}

// to |= from << shift, in counts.
void SizePass::shifted_into(Word* to, const Word* from, int shift) const noexcept {
    const std::size_t word_shift = at(shift / 64);
    const int bit = shift % 64;
    for (std::size_t w = words_; w-- > word_shift;) {
        Word value = from[w - word_shift] << bit;
        if (bit != 0 && w > word_shift) value |= from[w - word_shift - 1] >> (64 - bit);
        to[w] |= value;
    }
}

void SizePass::fill_start(int s) noexcept {
    const int n = shape_.n;
    const int min_run = shape_.min_run;
    if (s + min_run <= n) {
        if (allowed_through(s, s + min_run - 1)) shifted_into(start(s), run(s + min_run - 1), min_run);
    } else if (!shape_.strict_end && allowed_through(s, n - 1)) {
        add_count(start(s), n - s);
    }
}

void SizePass::enter_window(int s) noexcept {
    back_first_ = s;
    const Word* added = start(s);
    for (std::size_t w = 0; w < words_; ++w) back_[w] |= added[w];
}

// Drops the highest start; when the front is empty, the back becomes the front first.
void SizePass::leave_window() noexcept {
    if (front_last_ < front_first_) {
        front_last_ = front_first_ - 1;
        front_first_ = back_first_;
        for (int s = front_first_; s <= front_last_; ++s) {
            Word* to = &front_[at(s) * words_];
            const Word* own = start(s);
            const Word* below = s > front_first_ ? to - words_ : nullptr;
            for (std::size_t w = 0; w < words_; ++w) to[w] = own[w] | (below != nullptr ? below[w] : 0);
        }
        std::fill(back_.begin(), back_.end(), 0);
    }
    --front_last_;
}

void SizePass::fill_run(int p) noexcept {
    const int n = shape_.n;
    Word* here = run(p);
    if (p == n - 1) {
        add_count(here, 0);
        return;
    }
    if (p + 2 <= n - 1) {
        fill_start(p + 2);
        enter_window(p + 2);
    }
    const int highest = std::min(p + 1 + shape_.max_gap, n - 1);
    auto window_top = [&] { return front_last_ >= front_first_ ? front_last_ : front_first_ - 1; };
    while (back_first_ <= window_top() && window_top() > highest) leave_window();
    for (std::size_t w = 0; w < words_; ++w) here[w] = back_[w];
    if (front_last_ >= front_first_) {
        const Word* front = &front_[at(front_last_) * words_];
        for (std::size_t w = 0; w < words_; ++w) here[w] |= front[w];
    }
    if (n - 1 - p <= shape_.max_gap) add_count(here, 0);
    if (allowed_through(p + 1, p + 1)) shifted_into(here, run(p + 1), 1);
}

// The carried run's head from period 0 into `sizes`.
void SizePass::head_from_zero(Word* sizes) noexcept {
    const int n = shape_.n;
    const int head = shape_.carried_head;
    if (head <= n) {
        if (allowed_through(0, head - 1)) shifted_into(sizes, run(head - 1), head);
    } else if (!shape_.strict_end && allowed_through(0, n - 1)) {
        add_count(sizes, n);
    }
}

std::optional<int> SizePass::smallest_from(int min_selections) {
    const int n = shape_.n;
    for (int p = n - 1; p >= 0; --p) fill_run(p);
    for (int s = std::min(1, n - 1); s >= 0; --s) fill_start(s);
    std::vector<Word> sizes(words_, 0);
    for (int f = 0; f <= std::min(shape_.max_lead, n - 1); ++f) {
        if (f == 0 && shape_.carried_head > 0) {
            head_from_zero(sizes.data());
            continue;
        }
        const Word* first = start(f);
        for (std::size_t w = 0; w < words_; ++w) sizes[w] |= first[w];
    }
    for (int c = std::max(min_selections, 0); c <= n; ++c) {
        if ((sizes[at(c / 64)] >> (c % 64)) & 1U) return c;
    }
    return std::nullopt;
}

}  // namespace

std::optional<int> smallest_valid_size_from(const Shape& shape, int min_selections) {
    SizePass pass(shape);
    return pass.smallest_from(min_selections);
}

}  // namespace kestrava::rules
