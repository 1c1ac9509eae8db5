// The polling of signal_stop_check.hpp.
#include "module/signal_stop_check.hpp"

#include "module/python_include.hpp"
#include "platform/forced_unwind.hpp"

namespace kestrava::module {

namespace {

// The handlers, and on any thread a collection the interpreter scheduled, may run
// Python code: see platform/forced_unwind.hpp.
bool handler_raised(void* /*context*/) noexcept {
    return parked_on_forced_unwind([] { return PyErr_CheckSignals(); }) < 0;
}

}  // namespace

StopCheck signal_stop_check() noexcept { return StopCheck{&handler_raised, nullptr}; }

}  // namespace kestrava::module
