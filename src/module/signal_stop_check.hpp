// The StopCheck of a call: runs the interpreter's signal handlers, so that Ctrl-C
// (or any handler that raises) ends a long search. The call keeps the interpreter
// lock throughout, so the handlers run right inside the poll.
#pragma once

#include "selection/stop_check.hpp"

namespace kestrava::module {

// Answers true when a signal handler raised; its exception (KeyboardInterrupt for
// Ctrl-C) is then the interpreter's current exception. Only with the lock held.
StopCheck signal_stop_check() noexcept;

}  // namespace kestrava::module
