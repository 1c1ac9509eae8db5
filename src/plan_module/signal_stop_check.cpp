// The polling of signal_stop_check.hpp.
#include "plan_module/signal_stop_check.hpp"

#include "plan_module/interpreter_lock.hpp"

namespace kestrava::plan_module {

SignalStopCheck::SignalStopCheck() noexcept : runs_handlers_(runs_signal_handlers()) {}

bool SignalStopCheck::run_handlers(void* context) noexcept {
    auto& self = *static_cast<SignalStopCheck*>(context);
    // The lock is held only for the handlers: other threads keep running in between.
    const PyGILState_STATE state = take_lock_on_main_thread();
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
