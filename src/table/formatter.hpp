// What the table cannot write without an interpreter, which the binding supplies: plan
// shows a text or a decimal price by its Python repr, and a time at its zone's offset,
// which for a zone name only the tz database knows. The table calls it from the thread
// that calls TableRun; an answer may throw the binding's own exception, which passes
// through.
#pragma once

#include <string>
#include <string_view>

#include "table/time_texts.hpp"

namespace kestrava::table {

class Formatter {
public:
    // repr(str) of the UTF-8 text (invalid bytes replaced), cut as messages cut values.
    virtual std::string text(std::string_view utf8) = 0;
    // repr(Decimal(text)), cut likewise.
    virtual std::string decimal(std::string_view text) = 0;
    // Whether the tz database knows the zone name `zone`.
    virtual bool knows_zone(const std::string& zone) = 0;
    // The offset from UTC of the zone named `zone` at the instant `utc`.
    virtual Nanoseconds offset_at(const std::string& zone, Nanoseconds utc) = 0;

protected:
    ~Formatter() = default;
};

}  // namespace kestrava::table
