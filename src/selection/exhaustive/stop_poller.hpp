// StopPoller: how the exhaustive search's loops poll the caller's StopCheck without
// slowing down. Each step costs a counter increment; the check itself is asked once
// every poll_interval steps, a fraction of a millisecond of search.
#pragma once

#include <cstdint>

#include "selection/stop_check.hpp"

namespace kestrava::exhaustive {

class StopPoller {
public:
    static constexpr std::uint32_t poll_interval = 1024;

    explicit StopPoller(const StopCheck& check) noexcept : check_(check) {}

    // Counts one step of a loop; true once the check has answered true, and from then
    // on without asking it again (the caller's answer may have left state behind).
    bool step() noexcept {
        if (stopped_) return true;
        if (++steps_ < poll_interval) return false;
        steps_ = 0;
        stopped_ = check_.stop_requested();
        return stopped_;
    }

    bool stopped() const noexcept { return stopped_; }

private:
    const StopCheck& check_;
    std::uint32_t steps_ = 0;
    bool stopped_ = false;
};

}  // namespace kestrava::exhaustive
