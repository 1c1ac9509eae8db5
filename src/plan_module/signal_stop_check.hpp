// The planner's stop check while the interpreter lock is released: on the thread that
// runs signal handlers (the main thread), at most every poll_interval it takes the lock
// back just long enough to run them (PyErr_CheckSignals). When a handler raises
// (KeyboardInterrupt on Ctrl-C), the exception is kept and the planner is asked to
// stop; the caller raises it once the lock is its own again. Other threads run no
// handlers, so there the planner is never stopped and the lock never taken.
#pragma once

#include <chrono>

#include <nanobind/nanobind.h>

#include "selection/stop_check.hpp"
#include "selection/throttled_stop_check.hpp"

namespace kestrava::plan_module {

class SignalStopCheck {
public:
    static constexpr std::chrono::milliseconds poll_interval{10};

    // Made and destroyed with the lock held; polled from the planning thread without it.
    SignalStopCheck() noexcept;
    ~SignalStopCheck() { Py_XDECREF(raised_); }
    SignalStopCheck(const SignalStopCheck&) = delete;
    SignalStopCheck& operator=(const SignalStopCheck&) = delete;

    StopCheck check() noexcept { return runs_handlers_ ? throttle_.check() : StopCheck{}; }

    // With the lock held: sets the exception a signal handler raised, if one did, and
    // says whether it did.
    bool restore_raised() noexcept;

private:
    static bool run_handlers(void* context) noexcept;

    bool runs_handlers_;
    ThrottledStopCheck<std::chrono::steady_clock> throttle_{poll_interval, &run_handlers, this};
    PyObject* raised_ = nullptr;  // owned; set at most once, with the lock held
};

}  // namespace kestrava::plan_module
