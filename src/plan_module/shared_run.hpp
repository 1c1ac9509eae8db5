// A table run (table/run.hpp) as the binding's objects share it, driven with the
// interpreter lock: let go while the producer makes a batch and while the rows are
// planned, held for the producer's failure, the formatter and the output. The run's
// error values are raised here as the exceptions of their kinds.
#pragma once

#include <atomic>
#include <memory>
#include <optional>

#include "table/run.hpp"

namespace kestrava::plan_module {

struct SharedRun {
    std::unique_ptr<table::TableRun> engine;
    std::atomic<bool> busy{false};  // a thread reads the next batch
};

// With the lock held: the run of a call, or the ValueError or TypeError of its data.
std::shared_ptr<SharedRun> open_run(table::OwnedStream input, const table::ColumnNames& names,
                                    table::RuleScalars scalars, unsigned threads);

// With the lock held: the next output batch, or nullopt once the input ends. Raises
// ValueError when the input stream fails, RuntimeError when another thread is reading
// this run, and what a signal handler raised (KeyboardInterrupt) when it stopped the
// batch.
std::optional<table::OwnedArray> next_batch(SharedRun& shared);

}  // namespace kestrava::plan_module
