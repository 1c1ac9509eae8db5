// InternalFailure: the one C++ exception type of the project. It marks a failure
// that is not an answer to the caller's request (an exact sum that overflows, an
// interpreter call that fails) and unwinds to the call boundary, which alone
// catches it. Errors that answer a request are values (see outcome.hpp).
#pragma once

#include <exception>
#include <source_location>
#include <string>
#include <utility>

namespace kestrava {

class InternalFailure : public std::exception {
public:
    explicit InternalFailure(std::string message, std::source_location where = std::source_location::current())
        : message_(std::move(message)), where_(where) {}

    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }
    const std::source_location& where() const noexcept { return where_; }

private:
    std::string message_;
    std::source_location where_;
};

}  // namespace kestrava
