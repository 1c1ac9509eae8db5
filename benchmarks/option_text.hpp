// Reading the benchmarks' command-line values.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kestrava::bench {

// A whole number written in digits only; std::invalid_argument otherwise.
inline std::uint64_t parse_count(const std::string& text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
        throw std::invalid_argument("not a whole number: " + text);
    }
    return std::stoull(text);
}

}  // namespace kestrava::bench
