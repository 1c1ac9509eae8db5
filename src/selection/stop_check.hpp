// StopCheck: how a long computation in the core asks its caller whether to stop.
// The caller passes a plain function and a context pointer; the core polls it at
// intervals and ends with an "interrupted" error value when it answers true. The
// core never learns what the caller checks (a signal flag, a deadline, ...).
#pragma once

namespace kestrava {

struct StopCheck {
    // Answers true when the computation should end. Called from the computing
    // thread only; must not throw. nullptr: never stop.
    bool (*should_stop)(void* context) noexcept = nullptr;
    void* context = nullptr;

    bool stop_requested() const noexcept { return should_stop != nullptr && should_stop(context); }
};

}  // namespace kestrava
