// The polling of signal_stop_check.hpp.
#include "module/signal_stop_check.hpp"

#include "binding/forced_unwind.hpp"
#include "binding/python_include.hpp"

namespace kestrava::module {

namespace {

// The handlers, and on any thread a collection the interpreter scheduled, may run
// Python code: see binding/forced_unwind.hpp.
bool handler_raised(void* /*context*/) noexcept {
    return parked_on_forced_unwind([] { return PyErr_CheckSignals(); }) < 0;
}

}  // namespace

StopCheck signal_stop_check() noexcept { return StopCheck{&handler_raised, nullptr}; }

}  // namespace kestrava::module
