// The container of the prices. Refused by type when its items have no order of
// periods (str and bytes are texts, a mapping, a set or a mapping view has no order
// the caller chose, a memoryview's items are bytes) or when it is no iterable at all.
// Otherwise read into a tuple of its own, never more than one item past the limit, so
// that an endless iterable costs no more than a long list, and with the signal
// handlers run now and then, so that Ctrl-C ends a long read.
#pragma once

#include <cstddef>

#include <nanobind/nanobind.h>

namespace kestrava::plan_module {

namespace nb = nanobind;

// Raises TypeError for a refused container, ValueError for more than `most_prices`
// items, or what the container or a signal handler raises.
nb::tuple read_price_items(nb::handle prices, std::size_t most_prices);

}  // namespace kestrava::plan_module
