// The polling of signal_stop_check.hpp.
#include "plan_module/signal_stop_check.hpp"

namespace kestrava::plan_module {

bool SignalStopCheck::poll(void* context) noexcept {
    auto& self = *static_cast<SignalStopCheck*>(context);
    if (self.raised_ != nullptr) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now < self.next_poll_) return false;
    self.next_poll_ = now + poll_interval;
    // The lock is held only for the handlers: other threads keep running in between.
    const PyGILState_STATE state = PyGILState_Ensure();
    if (PyErr_CheckSignals() < 0) self.raised_ = PyErr_GetRaisedException();
    PyGILState_Release(state);
    return self.raised_ != nullptr;
}

bool SignalStopCheck::restore_raised() noexcept {
    if (raised_ == nullptr) return false;
    PyErr_SetRaisedException(raised_);  // hands the reference over
    raised_ = nullptr;
    return true;
}

}  // namespace kestrava::plan_module
