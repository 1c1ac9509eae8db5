// The band from counting: for each period p the counts c it allows, widened until
// both ends are non-increasing in p, so that each column is one stretch of periods.
#include "selection/horizon/band.hpp"

#include <algorithm>

namespace kestrava::horizon {

Band::Band(const Shape& shape) : columns_(shape.size) {
    const int n = shape.n;
    const int k = shape.size;
    const auto periods = static_cast<std::size_t>(n);
    // For (p, c): p + 1 >= k - c >= fewest main periods through p, and
    // fewest after p <= c <= n - 1 - p.
    std::vector<int> lowest(periods);
    std::vector<int> highest(periods);
    for (int p = 0; p < n; ++p) {
        const auto at = static_cast<std::size_t>(p);
        lowest[at] = std::max({0, k - 1 - p, fewest_main_after(shape, p)});
        highest[at] = std::min(n - 1 - p, k - fewest_main_through(shape, p));
    }
    // Widening only adds states, which then read as unreachable: a running minimum of
    // the lower end from the left and a running maximum of the upper end from the right.
    for (std::size_t at = 1; at < periods; ++at) lowest[at] = std::min(lowest[at], lowest[at - 1]);
    for (std::size_t at = periods - 1; at-- > 0;) highest[at] = std::max(highest[at], highest[at + 1]);

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

}  // namespace kestrava::horizon
