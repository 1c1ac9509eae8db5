// The lock taking of interpreter_lock.hpp.
#include "binding/interpreter_lock.hpp"

#include <atomic>

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

// 0 until remember_finalising_thread: then no thread counts as the finalising one.
std::atomic<unsigned long> finalising_thread{0};

// Without a thread state there is no asking the interpreter which thread this is
// (_PyOS_IsMainThread reads it), so the answer is kept from when the lock was held.
bool is_finalising_thread() noexcept {
    const unsigned long noted = finalising_thread.load(std::memory_order_relaxed);
    return noted != 0 && noted == PyThread_get_thread_ident();
}

}  // namespace

bool remember_finalising_thread() noexcept {
    PyObject* threading = PyImport_ImportModule("threading");
    if (threading == nullptr) return false;
    PyObject* main = PyObject_CallMethod(threading, "main_thread", nullptr);
    Py_DECREF(threading);
    if (main == nullptr) return false;
    PyObject* ident = PyObject_GetAttrString(main, "ident");
    Py_DECREF(main);
    if (ident == nullptr) return false;
    const unsigned long value = PyLong_AsUnsignedLong(ident);
    Py_DECREF(ident);
    if (value == static_cast<unsigned long>(-1) && PyErr_Occurred() != nullptr) return false;
    finalising_thread.store(value, std::memory_order_relaxed);
    return true;
}

bool runs_signal_handlers() noexcept { return _PyOS_IsMainThread() != 0; }

PyGILState_STATE take_lock_on_main_thread() noexcept {
    return parked_on_forced_unwind([] { return PyGILState_Ensure(); });
}

PyGILState_STATE take_lock_on_any_thread() noexcept {
    if (PyGILState_Check() == 0 && interpreter_finalising() && !is_finalising_thread()) park_thread_forever();
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
