// Letting the interpreter lock go and taking it back, safely also when the interpreter
// finalises under a daemon thread. CPython 3.12 and 3.13 end any thread but the
// finalising one (the main thread) that asks for the lock then with pthread_exit, a
// forced unwind; met by a noexcept frame (the stop check, a lock guard's destructor) it
// ends the process in std::terminate, and met by nanobind's dispatcher it aborts there.
// So the lock is taken back only here, never in a destructor: a thread that may be ended
// checks for finalising first and parks, and the request itself sits in
// parked_on_forced_unwind for a finalising that starts in between. A parked thread
// waits for the process, which is exiting, to end it.
#pragma once

#include "binding/python_include.hpp"

#include <exception>
#include <optional>
#include <utility>

namespace kestrava {

// With the lock held: whether the interpreter runs signal handlers on this thread (the
// main thread of the main interpreter). Elsewhere PyErr_CheckSignals runs none. False
// on every thread until remember_finalising_thread.
bool runs_signal_handlers() noexcept;

// On the thread that runs signal handlers, with the lock or without it: PyGILState_Ensure,
// which takes the lock only when the thread does not hold it already.
PyGILState_STATE take_lock_on_main_thread() noexcept;

// With the lock held, once, when a module that uses this file loads: notes the thread
// that will finalise the interpreter and runs its signal handlers (threading's main
// thread, and after os.fork the thread that forked), and looks up the interpreter's
// finalising and lock checks. Raises and returns false if threading cannot tell or the
// interpreter lacks a check (ImportError).
bool remember_finalising_thread() noexcept;

// On any thread, with the lock or without it: PyGILState_Ensure; a thread without the
// lock that the finalising interpreter would end parks instead (a consumer of an
// exported stream, pulling from C). The finalising thread itself takes the lock: a
// finaliser of its own may pull from such a stream.
PyGILState_STATE take_lock_on_any_thread() noexcept;

struct ReleasedLock {
    PyThreadState* state;
    bool may_be_ended;  // any thread but the main one
};

// PyEval_SaveThread, and its end unless the thread is parked.
ReleasedLock release_lock() noexcept;
void take_lock_back(const ReleasedLock& released) noexcept;

// Runs `work`, which must never touch the interpreter, without the lock, and returns
// its value once the lock is back; an exception it throws is rethrown then.
template <class Work>
auto without_lock(Work&& work) -> decltype(work()) {
    std::optional<decltype(work())> value;
    std::exception_ptr failure;
    const ReleasedLock released = release_lock();
    try {
        value.emplace(std::forward<Work>(work)());
    } catch (...) {  // never a forced unwind: the stop check parks the thread instead
        failure = std::current_exception();
    }
    take_lock_back(released);
    if (failure) std::rethrow_exception(failure);
    return std::move(*value);
}

}  // namespace kestrava
