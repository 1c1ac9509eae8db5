// The per-thread lock depth and the ReferencePool: together they make sure that a
// reference is only ever decremented on a thread that holds the interpreter lock.
//
// Every entry of the module (the init entry and each call) raises this thread's lock
// depth by one while it runs. A release requested at depth 0 (a thread that is not
// inside an entry, so may not hold the lock) is parked in the process-wide pool and
// performed by the next entry on any thread.
#pragma once

#include "module/python_include.hpp"

#include <cstdint>

namespace kestrava::module {

// Entries currently running on this thread; each one holds the interpreter lock.
inline thread_local std::int64_t lock_depth = 0;

// Parks a reference whose release was asked for outside an entry. Never fails:
// the pool's list is grown under its mutex, and exhausted memory ends the process.
void defer_release(PyObject* object) noexcept;

// Takes every parked reference out of the pool and releases it. Called on entry,
// with the interpreter lock held. Cheap when nothing was ever parked.
void flush_reference_pool() noexcept;

// The one way the module gives up a strong reference.
inline void release_reference(PyObject* object) noexcept {
    if (lock_depth >= 1) {
        Py_DECREF(object);
    } else {
        defer_release(object);
    }
}

// Marks the extent of one entry on this thread: depth + 1 and a pool flush on the way
// in, depth - 1 on the way out, whichever way the entry ends.
class EntryScope {
public:
    EntryScope() noexcept {
        ++lock_depth;
        flush_reference_pool();
    }
    ~EntryScope() { --lock_depth; }
    EntryScope(const EntryScope&) = delete;
    EntryScope& operator=(const EntryScope&) = delete;
};

}  // namespace kestrava::module
