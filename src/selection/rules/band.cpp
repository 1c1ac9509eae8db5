// The band from counting: for each period p the counts c it allows, widened until
// both ends are non-increasing in p, so that each column is one stretch of periods.
#include "selection/rules/band.hpp"

#include <algorithm>

namespace kestrava::rules {

void Band::assign(const Shape& shape) {
    rules_ = rules_of(shape);
    columns_ = shape.size;
    cells_ = 0;
    const int n = shape.n;
    const int k = shape.size;
    const auto periods = static_cast<std::size_t>(n);
    // For (p, c): p + 1 >= k - c >= fewest main periods through p, and
    // fewest after p <= c <= n - 1 - p.
    std::vector<int>& lowest = lowest_;
    std::vector<int>& highest = highest_;
    lowest.resize(periods);
    highest.resize(periods);
    fewest_main_after_each(shape, lowest);
    fewest_main_through_each(shape, highest);
    // A carried run of r periods lets the first run hold r fewer of them: the count
    // through p of t runs is at least max(R t - r, ...) >= max(R t, ...) - r.
    if (shape.carried > 0) {
        for (int& fewest : highest) fewest = std::max(0, fewest - shape.carried);
    }
    // Widening only adds states, which then read as unreachable: a running minimum of
    // the lower end from the left and a running maximum of the upper end from the right.
    int lower = k;
    for (int p = 0; p < n; ++p) {
        const auto at = static_cast<std::size_t>(p);
        lower = std::min(lower, std::max(std::max(0, k - 1 - p), lowest[at]));
        lowest[at] = lower;
    }
    int upper = -1;
    for (int p = n - 1; p >= 0; --p) {
        const auto at = static_cast<std::size_t>(p);
        upper = std::max(upper, std::min(n - 1 - p, k - highest[at]));
        highest[at] = upper;
    }

    const auto columns = static_cast<std::size_t>(k);
    first_.assign(columns, n);
    last_.assign(columns, -1);
    offset_.assign(columns, 0);
    // Column c holds the periods with lowest <= c (a suffix, as lowest falls with p)
    // and highest >= c (a prefix, as highest falls with p).
    int p = 0;
    for (int c = k - 1; c >= 0; --c) {
        while (p < n && lowest[static_cast<std::size_t>(p)] > c) ++p;
        first_[static_cast<std::size_t>(c)] = p;
    }
    int q = n - 1;
    for (int c = 0; c < k; ++c) {
        while (q >= 0 && highest[static_cast<std::size_t>(q)] < c) --q;
        last_[static_cast<std::size_t>(c)] = q;
    }
    for (std::size_t c = 0; c < columns; ++c) {
        offset_[c] = cells_;
        if (first_[c] <= last_[c]) cells_ += static_cast<std::size_t>(last_[c] - first_[c] + 1);
    }
}

const Band& BandCache::band_for(const Shape& shape) {
    for (const Band& band : bands_) {
        if (band.is_for(shape)) return band;
    }
    Band& band = bands_[oldest_];
    oldest_ = (oldest_ + 1) % kept;
    band.assign(shape);
    return band;
}

}  // namespace kestrava::rules
