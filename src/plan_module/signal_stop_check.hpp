// The planner's stop check while the interpreter lock is released: at most every
// poll_interval it takes the lock back just long enough to run the interpreter's
// signal handlers (PyErr_CheckSignals). When a handler raises (KeyboardInterrupt on
// Ctrl-C), the exception is kept and the planner is asked to stop; the caller raises
// it once the lock is its own again.
#pragma once

#include <chrono>

#include <nanobind/nanobind.h>

#include "selection/stop_check.hpp"

namespace kestrava::plan_module {

namespace nb = nanobind;

class SignalStopCheck {
public:
    static constexpr std::chrono::milliseconds poll_interval{10};

    // Made and destroyed with the lock held; polled from the planning thread without it.
    SignalStopCheck() = default;
    ~SignalStopCheck() { Py_XDECREF(raised_); }
    SignalStopCheck(const SignalStopCheck&) = delete;
    SignalStopCheck& operator=(const SignalStopCheck&) = delete;

    StopCheck check() noexcept { return {&poll, this}; }

    // With the lock held: sets the exception a signal handler raised, if one did, and
    // says whether it did.
    bool restore_raised() noexcept;

private:
    static bool poll(void* context) noexcept;

    std::chrono::steady_clock::time_point next_poll_ = std::chrono::steady_clock::now() + poll_interval;
    PyObject* raised_ = nullptr;  // owned; set at most once, with the lock held
};

}  // namespace kestrava::plan_module
