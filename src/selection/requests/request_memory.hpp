// RequestMemory: what a caller that plans many requests in turn, such as the rows of a
// table, keeps from one request to the next: the last prices' reading, and the last
// cheapest main combination, which also answers the same request again with the
// cheapest main's strategy (kept_main.hpp). One per thread of planning; plan_periods
// (cheapest_periods.hpp) reads the prices through it and hangs it on the prepared
// request (prepared_request.hpp), where the planner finds and refreshes the kept main.
#pragma once

#include "selection/prices/price_reading.hpp"
#include "selection/requests/kept_main.hpp"

namespace kestrava::planner {

struct RequestMemory {
    PriceReading reading;
    KeptMain cheapest_main;
};

}  // namespace kestrava::planner
