// ThrottledStopCheck: a StopCheck that puts a costly question to its owner (for the
// binding: take the interpreter lock and run the signal handlers) at most once per
// interval, however often the planner polls, and answers true for good once the
// question was answered true. The clock is a parameter so that tests set the time.
#pragma once

#include <chrono>

#include "selection/stop_check.hpp"

namespace kestrava {

template <class Clock>
class ThrottledStopCheck {
public:
    // Answers true when the computation should end; must not throw.
    using Ask = bool (*)(void* context) noexcept;

    // The first question comes one interval after construction.
    ThrottledStopCheck(typename Clock::duration interval, Ask ask, void* context) noexcept
        : interval_(interval), ask_(ask), context_(context), next_ask_(Clock::now() + interval) {}
    ThrottledStopCheck(const ThrottledStopCheck&) = delete;
    ThrottledStopCheck& operator=(const ThrottledStopCheck&) = delete;

    // Valid while this object lives.
    StopCheck check() noexcept { return {&poll, this}; }

private:
    static bool poll(void* context) noexcept {
        auto& self = *static_cast<ThrottledStopCheck*>(context);
        if (self.stopped_) return true;
        const typename Clock::time_point now = Clock::now();
        if (now < self.next_ask_) return false;
        self.next_ask_ = now + self.interval_;
        self.stopped_ = self.ask_(self.context_);
        return self.stopped_;
    }

    typename Clock::duration interval_;
    Ask ask_;
    void* context_;
    typename Clock::time_point next_ask_;
    bool stopped_ = false;
};

}  // namespace kestrava
