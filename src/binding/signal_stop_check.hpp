// The stop check of a search, for both bindings: on the thread that runs signal handlers
// (the main thread), at most every poll_interval, it runs them (PyErr_CheckSignals). When
// a handler raises (KeyboardInterrupt on Ctrl-C), the exception is kept and the search is
// asked to stop; the caller raises it once the search is over. Other threads run no
// handlers, so there the search is never stopped and the lock never asked for.
//
// kestrava searches with the interpreter lock held, and the poll then takes nothing;
// kestrava_plan searches without it, and the poll holds it just for the handlers, so
// that other threads run in between.
#pragma once

#include "binding/python_include.hpp"

#include <chrono>

#include "binding/owned_ref.hpp"
#include "selection/stop_check.hpp"
#include "selection/throttled_stop_check.hpp"

namespace kestrava {

class SignalStopCheck {
public:
    static constexpr std::chrono::milliseconds poll_interval{10};

    // Made and destroyed with the lock held; polled from the searching thread.
    SignalStopCheck() noexcept;
    SignalStopCheck(const SignalStopCheck&) = delete;
    SignalStopCheck& operator=(const SignalStopCheck&) = delete;

    StopCheck check() noexcept { return runs_handlers_ ? throttle_.check() : StopCheck{}; }

    // With the lock held: sets the exception a signal handler raised, if one did, as the
    // current exception, and says whether it did.
    bool restore_raised() noexcept;

private:
    static bool run_handlers(void* context) noexcept;

    bool runs_handlers_;
    ThrottledStopCheck<std::chrono::steady_clock> throttle_{poll_interval, &run_handlers, this};
    OwnedRef raised_;  // set at most once, with the lock held
};

}  // namespace kestrava
