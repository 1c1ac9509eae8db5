// The lock taking of interpreter_lock.hpp.
#include "plan_module/interpreter_lock.hpp"

#include "platform/forced_unwind.hpp"

#if PY_VERSION_HEX >= 0x030D0000
// Exported by 3.13 but declared only in its internal headers; 3.12 declares it in
// intrcheck.h. The very test PyErr_CheckSignals makes before running handlers.
extern "C" PyAPI_FUNC(int) _PyOS_IsMainThread(void);
#endif

namespace kestrava::plan_module {

namespace {

bool interpreter_finalising() noexcept {
#if PY_VERSION_HEX >= 0x030D0000
    return Py_IsFinalizing() != 0;
#else
    return _Py_IsFinalizing() != 0;
#endif
}

}  // namespace

PyGILState_STATE take_lock() noexcept {
    if (interpreter_finalising()) park_thread_forever();
    return parked_on_forced_unwind([] { return PyGILState_Ensure(); });
}

void take_lock_back(PyThreadState* state) noexcept {
    if (interpreter_finalising()) park_thread_forever();
    parked_on_forced_unwind([state] { PyEval_RestoreThread(state); });
}

bool runs_signal_handlers() noexcept { return _PyOS_IsMainThread() != 0; }

}  // namespace kestrava::plan_module
