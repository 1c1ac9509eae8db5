// The polling of signal_stop_check.hpp.
#include "module/signal_stop_check.hpp"

#include "module/python_include.hpp"

namespace kestrava::module {

namespace {

bool handler_raised(void* /*context*/) noexcept { return PyErr_CheckSignals() < 0; }

}  // namespace

StopCheck signal_stop_check() noexcept { return StopCheck{&handler_raised, nullptr}; }

}  // namespace kestrava::module
