// Planning the rows of a batch on a crew of threads: each thread takes the next rows in
// turn and plans them in a request and workspace of its own (the planner's workspaces
// are per thread). The calling thread plans too and polls the caller's stop check while
// it plans and while it waits: when the check asks to stop (the binding's, on Ctrl-C),
// every thread stops at its next poll and the batch ends.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "selection/item.hpp"
#include "selection/outcome.hpp"
#include "selection/stop_check.hpp"
#include "table/batch.hpp"

namespace kestrava::table {

struct RowResult {
    enum class State : unsigned char {
        planned,  // periods and cost hold the plan
        refused,  // message holds plan's refusal of the row's values
        failed,   // error holds the planner's error value, whose message may show a price by its repr
        times_refused,  // fault holds what plan refuses in the times, whose message may show a zone's times
    };
    State state = State::refused;
    IndexList periods;
    std::string cost;
    std::string message;
    Error error{};
    TimesFault fault{};
};

// The threads that plan the batches of one run: the calling thread and up to
// `threads` - 1 helpers, started at the first batch that needs them and kept, with
// their requests and workspaces, until the crew ends, so that a batch costs no
// thread's start. A crew copied into a child process by fork is left to the parent:
// the child starts helpers of its own.
class RowCrew {
public:
    explicit RowCrew(unsigned threads);
    ~RowCrew();
    RowCrew(const RowCrew&) = delete;
    RowCrew& operator=(const RowCrew&) = delete;

    // Plans every row of `batch` into `results` (resized to the batch); the calling
    // thread polls `stop`. Answers false when `stop` asked to stop. Call from one
    // thread at a time (a binding: without its interpreter's lock). Rethrows the first exception a
    // thread met (an InternalFailure, a failed allocation) once every thread is done.
    bool plan(const TableBatch& batch, std::vector<RowResult>& results, const StopCheck& stop);

    class Crew;

private:
    void leave_forked_crew() noexcept;

    std::unique_ptr<Crew> crew_;
    unsigned threads_;
    pid_t owner_ = 0;  // the process whose threads crew_ holds
};

}  // namespace kestrava::table
