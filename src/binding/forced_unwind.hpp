// What a thread does when the interpreter ends it in the middle of a call.
//
// While CPython 3.12 and 3.13 finalise, any thread other than the finalising one that
// asks for the interpreter lock is ended with pthread_exit: a forced unwind. Through
// C++ frames it runs every cleanup without the lock (Py_DECREF on a dying
// interpreter), ends in std::terminate at the first noexcept frame, and aborts in a
// catch (...) that does not rethrow. So each call into the interpreter that can let
// the lock go (Python code, a taking of the lock) sits in parked_on_forced_unwind: the
// unwind is caught right where it starts, before any of our frames is cleaned up, and
// the thread waits there until the process, which is exiting, ends it.
// No Python here: both extension modules include it.
#pragma once

#include <chrono>
#include <thread>
#include <utility>

// The forced unwind is caught by its type, which only libstdc++ names: a build on
// another C++ library would lose the guard silently, so it does not build.
#if !defined(__GLIBCXX__)
#error "the exit guard needs libstdc++ (abi::__forced_unwind); build with GCC's C++ library"
#endif
#include <cxxabi.h>

namespace kestrava {

[[noreturn]] inline void park_thread_forever() noexcept {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
}

// Runs `call`, which must not throw anything else. A handler that never returns
// neither swallows the forced unwind nor lets it run on. A forced unwind carries no
// object for the handler's reference to bind, which the undefined behaviour
// sanitizer's null check would report: the check is off here, and the function out of
// line so that it stays off.
template <class Call>
[[gnu::noinline, gnu::no_sanitize("null")]]
decltype(auto) parked_on_forced_unwind(Call&& call) noexcept {
    try {
        return std::forward<Call>(call)();
    } catch (abi::__forced_unwind&) {
        park_thread_forever();
    }
}

}  // namespace kestrava
