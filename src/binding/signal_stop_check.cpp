// The polling of signal_stop_check.hpp.
#include "binding/signal_stop_check.hpp"

#include "binding/forced_unwind.hpp"
#include "binding/interpreter_lock.hpp"

namespace kestrava {

SignalStopCheck::SignalStopCheck() noexcept : runs_handlers_(runs_signal_handlers()) {}

bool SignalStopCheck::run_handlers(void* context) noexcept {
    auto& self = *static_cast<SignalStopCheck*>(context);
    const PyGILState_STATE state = take_lock_on_main_thread();
    // The handlers, and a collection the interpreter scheduled, may run Python code.
    if (parked_on_forced_unwind([] { return PyErr_CheckSignals(); }) < 0) {
        self.raised_ = OwnedRef::steal(PyErr_GetRaisedException());
    }
    PyGILState_Release(state);
    return static_cast<bool>(self.raised_);
}

bool SignalStopCheck::restore_raised() noexcept {
    if (!raised_) return false;
    PyErr_SetRaisedException(raised_.release());
    return true;
}

}  // namespace kestrava
