// Planning the rows of a batch on a pool of threads, without the interpreter lock: each
// thread takes the next rows in turn and plans them in a request and workspace of its
// own (the planner's workspaces are per thread). The calling thread plans too and, on
// the main thread, runs the signal handlers while it plans and while it waits: when a
// handler raises (Ctrl-C), every thread stops at its next poll and the batch ends.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "plan_module/table_batch.hpp"
#include "selection/item.hpp"
#include "selection/outcome.hpp"
#include "selection/stop_check.hpp"

namespace kestrava::plan_module {

struct RowResult {
    enum class State : unsigned char {
        planned,  // periods and cost hold the plan
        refused,  // message holds plan's refusal of the row's values
        failed,   // error holds the planner's error value, whose message needs the interpreter
        times_refused,  // fault holds what plan refuses in the times, whose message may show a zone's times
    };
    State state = State::refused;
    IndexList periods;
    std::string cost;
    std::string message;
    Error error{};
    TimesFault fault{};
};

// Plans every row of `batch` into `results` (resized to the batch) on up to `threads`
// threads, the calling one included, which polls `stop`. Answers false when `stop`
// asked to stop. Call without the interpreter lock. Rethrows the first exception a
// thread met (an InternalFailure, a failed allocation) once every thread is done.
bool plan_rows(const TableBatch& batch, std::vector<RowResult>& results, unsigned threads, const StopCheck& stop);

}  // namespace kestrava::plan_module
