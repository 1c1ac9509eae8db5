// Workspace<Int>: a planner and what it reads (the shape, the cheap flags, the prices
// in units), kept per thread and per width, so that a call plans in the arrays of the
// calls before it instead of allocating its own. A lease lends it for one call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "selection/planner/planner.hpp"
#include "selection/rules/shape.hpp"

namespace kestrava::planner {

template <class Int>
struct Workspace {
    std::vector<std::uint8_t> cheap;
    rules::Shape shape;
    std::vector<Int> units;
    Planner<Int> planner;
};

// Lends this thread's workspace for Int, or a fresh one when it is already lent (a
// signal handler that plans while a plan of the same thread waits for it). A lent
// workspace that grew beyond kept_bytes, for a long horizon, is given back empty.
template <class Int>
class WorkspaceLease {
public:
    static constexpr std::size_t kept_bytes = std::size_t{1} << 20;

    WorkspaceLease() : slot_(thread_slot()) {
        if (slot_.lent) own_ = std::make_unique<Workspace<Int>>();
        slot_.lent = true;
    }
    ~WorkspaceLease() {
        if (own_) return;
        if (slot_.workspace.planner.workspace_bytes() > kept_bytes) slot_.workspace = Workspace<Int>{};
        slot_.lent = false;
    }
    WorkspaceLease(const WorkspaceLease&) = delete;
    WorkspaceLease& operator=(const WorkspaceLease&) = delete;

    Workspace<Int>* operator->() const noexcept { return own_ ? own_.get() : &slot_.workspace; }

private:
    struct Slot {
        Workspace<Int> workspace;
        bool lent = false;
    };
    static Slot& thread_slot() {
        thread_local Slot slot;
        return slot;
    }

    Slot& slot_;
    std::unique_ptr<Workspace<Int>> own_;
};

}  // namespace kestrava::planner
