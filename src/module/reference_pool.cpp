// The ReferencePool: references whose release was asked for on a thread outside every
// entry, kept until an entry (which holds the interpreter lock) releases them.
#include "module/reference_pool.hpp"

#include <atomic>
#include <mutex>
#include <vector>

namespace kestrava::module {

namespace {

struct ReferencePool {
    std::mutex mutex;
    std::vector<PyObject*> pending;
};

// Made on first use and never destroyed: a release may be parked during interpreter
// shutdown, after static destructors would have run.
std::atomic<ReferencePool*> pool_instance{nullptr};

ReferencePool& pool() {
    ReferencePool* existing = pool_instance.load(std::memory_order_acquire);
    if (existing != nullptr) {
        return *existing;
    }
    // Two threads outside the lock may race here; the loser's pool is discarded.
    auto* made = new ReferencePool;
    if (pool_instance.compare_exchange_strong(existing, made, std::memory_order_acq_rel)) {
        return *made;
    }
    delete made;
    return *existing;
}

}  // namespace

void defer_release(PyObject* object) noexcept {
    ReferencePool& parked = pool();
    const std::lock_guard guard(parked.mutex);
    parked.pending.push_back(object);
}

void flush_reference_pool() noexcept {
    ReferencePool* parked = pool_instance.load(std::memory_order_acquire);
    if (parked == nullptr) {
        return;
    }
    std::vector<PyObject*> taken;
    {
        const std::lock_guard guard(parked->mutex);
        if (parked->pending.empty()) {
            return;
        }
        taken.swap(parked->pending);
    }
    // Decrement outside the mutex: a finalizer may call into the module again, and that
    // entry flushes the pool too.
    for (PyObject* object : taken) {
        Py_DECREF(object);
    }
}

}  // namespace kestrava::module
