// The table's formatter (table/formatter.hpp) through the interpreter: a price shown by
// its repr as plan shows it, and a zone's offsets through zoneinfo and datetime, as
// plan's messages show its times (datetime.isoformat()). With the interpreter lock
// held; a failure of the interpreter raises its exception.
#pragma once

#include "table/formatter.hpp"

namespace kestrava::plan_module {

class PythonFormatter final : public table::Formatter {
public:
    std::string text(std::string_view utf8) override;
    std::string decimal(std::string_view text) override;
    // ZoneInfoNotFoundError is a KeyError, and a key that is no path a ValueError: both
    // answer false; any other exception is raised.
    bool knows_zone(const std::string& zone) override;
    table::Nanoseconds offset_at(const std::string& zone, table::Nanoseconds utc) override;
};

}  // namespace kestrava::plan_module
