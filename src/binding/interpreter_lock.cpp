// The lock taking of interpreter_lock.hpp.
#include "binding/interpreter_lock.hpp"

#include "binding/forced_unwind.hpp"

#if PY_VERSION_HEX >= 0x030D0000
// Exported by 3.13 but declared only in its internal headers; 3.12 declares it in
// intrcheck.h. The very test PyErr_CheckSignals makes before running handlers.
extern "C" PyAPI_FUNC(int) _PyOS_IsMainThread(void);
#endif

namespace kestrava {

namespace {

bool interpreter_finalising() noexcept {
#if PY_VERSION_HEX >= 0x030D0000
    return Py_IsFinalizing() != 0;
#else
    return _Py_IsFinalizing() != 0;
#endif
}

}  // namespace

bool runs_signal_handlers() noexcept { return _PyOS_IsMainThread() != 0; }

PyGILState_STATE take_lock_on_main_thread() noexcept {
    return parked_on_forced_unwind([] { return PyGILState_Ensure(); });
}

PyGILState_STATE take_lock_on_any_thread() noexcept {
    // No thread state to ask which thread this is: the finalising thread holds the lock.
    if (PyGILState_Check() == 0 && interpreter_finalising()) park_thread_forever();
    return parked_on_forced_unwind([] { return PyGILState_Ensure(); });
}

ReleasedLock release_lock() noexcept {
    const bool may_be_ended = !runs_signal_handlers();
    return {PyEval_SaveThread(), may_be_ended};
}

void take_lock_back(const ReleasedLock& released) noexcept {
    // Checked first: once finalising, a thread's state may already be freed.
    if (released.may_be_ended && interpreter_finalising()) park_thread_forever();
    parked_on_forced_unwind([&released] { PyEval_RestoreThread(released.state); });
}

}  // namespace kestrava
