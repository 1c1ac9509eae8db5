// The band of the run table: which states (p, c) can lie on a valid selection of
// k main periods, where the state means "p is a main period, its run is already at
// least min_run long at p, and c main periods follow p". The table stores only
// these, one column per c, so that its size follows the request's real freedom
// instead of n * k.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "selection/rules/shape.hpp"

namespace kestrava::rules {

class Band {
public:
    Band() = default;
    // Precondition: 1 <= shape.size < shape.n.
    explicit Band(const Shape& shape) { assign(shape); }
    // The band of another shape, in the arrays already held where they are large enough.
    // The band depends on the rules alone (n, k, R, G, L and a carried run), which
    // BandCache keys its bands by.
    void assign(const Shape& shape);
    // Whether this is the band of the shape's rules.
    bool is_for(const Shape& shape) const noexcept { return rules_ == rules_of(shape); }

    // Whether (p, c) may lie on a valid selection; false guarantees it lies on none.
    bool holds(int p, int c) const noexcept {
        if (c < 0 || c >= columns_) return false;
        const auto column = static_cast<std::size_t>(c);
        return p >= first_[column] && p <= last_[column];
    }
    // Column c covers the periods first(c) .. last(c); first(c) > last(c) when empty.
    int first(int c) const noexcept { return first_[static_cast<std::size_t>(c)]; }
    int last(int c) const noexcept { return last_[static_cast<std::size_t>(c)]; }
    // Position of (p, c) in the table. Precondition: holds(p, c).
    std::size_t cell(int p, int c) const noexcept {
        const auto column = static_cast<std::size_t>(c);
        return offset_[column] + static_cast<std::size_t>(p - first_[column]);
    }
    std::size_t cells() const noexcept { return cells_; }
    int columns() const noexcept { return columns_; }
    std::size_t held_bytes() const noexcept {
        return (first_.capacity() + last_.capacity() + lowest_.capacity() + highest_.capacity()) * sizeof(int) +
               offset_.capacity() * sizeof(std::size_t);
    }

private:
    struct Rules {
        int n = 0;
        int size = 0;
        int min_run = 0;
        int max_gap = 0;
        int max_lead = 0;
        int carried = 0;
        friend bool operator==(const Rules&, const Rules&) = default;
    };

    static Rules rules_of(const Shape& shape) noexcept {
        return {shape.n, shape.size, shape.min_run, shape.max_gap, shape.max_lead, shape.carried};
    }

    Rules rules_;      // those of the band held; n = 0 before the first
    int columns_ = 0;  // c = 0 .. k - 1
    std::vector<int> first_;
    std::vector<int> last_;
    std::vector<std::size_t> offset_;
    std::size_t cells_ = 0;
    std::vector<int> lowest_;  // per period, scratch of assign()
    std::vector<int> highest_;
};

// The bands of the last few rule sets planned with. A fleet plans its devices with a
// handful of rule sets, row after row, whose bands then need counting only once.
class BandCache {
public:
    // The band of the shape's rules: one kept, or the oldest replaced by it.
    const Band& band_for(const Shape& shape);
    std::size_t held_bytes() const noexcept {
        std::size_t bytes = 0;
        for (const Band& band : bands_) bytes += band.held_bytes();
        return bytes;
    }

private:
    static constexpr std::size_t kept = 4;
    std::array<Band, kept> bands_;
    std::size_t oldest_ = 0;
};

}  // namespace kestrava::rules
