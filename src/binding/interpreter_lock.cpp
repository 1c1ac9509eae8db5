// The lock taking of interpreter_lock.hpp.
#include "binding/interpreter_lock.hpp"

#include <dlfcn.h>

#include <atomic>
#include <string>

#include "binding/forced_unwind.hpp"

namespace kestrava {

namespace {

// The ident of threading's main thread, which runs signal handlers and finalises the
// interpreter; 0, which no thread has, until remember_finalising_thread. Kept because
// without a thread state there is no asking the interpreter which thread this is.
std::atomic<unsigned long> main_thread{0};

// Interpreter functions that the limited API of 3.12 lacks, looked up once at import:
// Py_IsFinalizing (limited from 3.13 on; 3.12 exports it as _Py_IsFinalizing) and
// PyGILState_Check (exported by every version, limited by none). Both are safe to call
// without the lock.
using InterpreterQuery = int (*)();
std::atomic<InterpreterQuery> is_finalizing{nullptr};
std::atomic<InterpreterQuery> holds_lock{nullptr};

bool interpreter_finalising() noexcept { return is_finalizing.load(std::memory_order_relaxed)() != 0; }

bool is_finalising_thread() noexcept {
    const unsigned long noted = main_thread.load(std::memory_order_relaxed);
    return noted != 0 && noted == PyThread_get_thread_ident();
}

// With the lock held: the main thread's ident, as threading knows it; 0 with an
// exception set when it cannot tell.
unsigned long threading_main_thread() noexcept {
    PyObject* threading = PyImport_ImportModule("threading");
    if (threading == nullptr) return 0;
    PyObject* main = PyObject_CallMethod(threading, "main_thread", nullptr);
    Py_DECREF(threading);
    if (main == nullptr) return 0;
    PyObject* ident = PyObject_GetAttrString(main, "ident");
    Py_DECREF(main);
    if (ident == nullptr) return 0;
    const unsigned long value = PyLong_AsUnsignedLong(ident);
    Py_DECREF(ident);
    return PyErr_Occurred() != nullptr ? 0 : value;
}

// A child of os.fork goes on in the thread that forked, which the interpreter then
// makes its main thread.
PyObject* note_forking_thread(PyObject* /*self*/, PyObject* /*unused*/) noexcept {
    main_thread.store(PyThread_get_thread_ident(), std::memory_order_relaxed);
    Py_RETURN_NONE;
}

PyMethodDef note_forking_thread_method{"note_forking_thread", &note_forking_thread, METH_NOARGS, nullptr};

bool follow_forks() noexcept {
    PyObject* hook = PyCFunction_New(&note_forking_thread_method, nullptr);
    if (hook == nullptr) return false;
    PyObject* os = PyImport_ImportModule("os");
    PyObject* registered = nullptr;
    if (os != nullptr) {
        PyObject* register_at_fork = PyObject_GetAttrString(os, "register_at_fork");
        Py_DECREF(os);
        PyObject* no_arguments = register_at_fork == nullptr ? nullptr : PyTuple_New(0);
        PyObject* keywords = no_arguments == nullptr ? nullptr : Py_BuildValue("{sO}", "after_in_child", hook);
        if (keywords != nullptr) registered = PyObject_Call(register_at_fork, no_arguments, keywords);
        Py_XDECREF(keywords);
        Py_XDECREF(no_arguments);
        Py_XDECREF(register_at_fork);
    }
    Py_DECREF(hook);
    Py_XDECREF(registered);
    return registered != nullptr;
}

// Raises ImportError when the interpreter does not export `name`.
InterpreterQuery exported_query(const char* name) noexcept {
    auto* const query = reinterpret_cast<InterpreterQuery>(dlsym(RTLD_DEFAULT, name));
    if (query == nullptr) {
        PyErr_SetString(PyExc_ImportError, (std::string("the interpreter exports no ") + name).c_str());
    }
    return query;
}

bool look_up_queries() noexcept {
    const InterpreterQuery finalizing = exported_query(Py_Version >= 0x030D0000 ? "Py_IsFinalizing" : "_Py_IsFinalizing");
    const InterpreterQuery lock_check = finalizing == nullptr ? nullptr : exported_query("PyGILState_Check");
    if (lock_check == nullptr) return false;
    is_finalizing.store(finalizing, std::memory_order_relaxed);
    holds_lock.store(lock_check, std::memory_order_relaxed);
    return true;
}

}  // namespace

bool remember_finalising_thread() noexcept {
    if (main_thread.load(std::memory_order_relaxed) != 0) return true;  // noted by an earlier import
    if (!look_up_queries()) return false;
    const unsigned long ident = threading_main_thread();
    if (ident == 0 || !follow_forks()) return false;
    main_thread.store(ident, std::memory_order_relaxed);
    return true;
}

// The interpreter runs handlers on its main thread, in the main interpreter (id 0) only.
bool runs_signal_handlers() noexcept {
    return is_finalising_thread() && PyInterpreterState_GetID(PyInterpreterState_Get()) == 0;
}

PyGILState_STATE take_lock_on_main_thread() noexcept {
    return parked_on_forced_unwind([] { return PyGILState_Ensure(); });
}

PyGILState_STATE take_lock_on_any_thread() noexcept {
    if (holds_lock.load(std::memory_order_relaxed)() == 0 && interpreter_finalising() && !is_finalising_thread()) {
        park_thread_forever();
    }
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
