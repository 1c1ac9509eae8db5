// Workspace<Int>: a planner and the units it reads at its width, kept per thread and
// per width, so that a call plans in the arrays of the calls before it instead of
// allocating its own (the prepared request, requests/prepared_request.hpp, holds the
// rest). A lease lends it, or any other
// space a call keeps per thread, for one call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "selection/planner/planner.hpp"

namespace kestrava::planner {

template <class Int>
struct Workspace {
    std::vector<Int> units;
    Planner<Int> planner;

    std::size_t held_bytes() const noexcept { return planner.workspace_bytes(); }
};

// Lends this thread's Space, or a fresh one when it is already lent (a signal handler
// that plans while a plan of the same thread waits for it). A lent space that grew
// beyond kept_bytes (Space::held_bytes()), for a long horizon, is given back empty.
template <class Space>
class ThreadLease {
public:
    static constexpr std::size_t kept_bytes = std::size_t{1} << 20;

    ThreadLease() : slot_(thread_slot()) {
        if (slot_.lent) own_ = std::make_unique<Space>();
        slot_.lent = true;
    }
    ~ThreadLease() {
        if (own_) return;
        if (slot_.space.held_bytes() > kept_bytes) slot_.space = Space{};
        slot_.lent = false;
    }
    ThreadLease(const ThreadLease&) = delete;
    ThreadLease& operator=(const ThreadLease&) = delete;

    Space* operator->() const noexcept { return own_ ? own_.get() : &slot_.space; }
    Space& operator*() const noexcept { return *operator->(); }

private:
    struct Slot {
        Space space;
        bool lent = false;
    };
    static Slot& thread_slot() {
        thread_local Slot slot;
        return slot;
    }

    Slot& slot_;
    std::unique_ptr<Space> own_;
};

template <class Int>
using WorkspaceLease = ThreadLease<Workspace<Int>>;

}  // namespace kestrava::planner
