// Reading the benchmarks' command-line values.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <iostream>
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

// Walks the "--name value" pairs of a command line: --help prints `usage` and exits, and
// take(name, value) answers false for a name or value it does not know.
template <class Take>
void read_options(int argc, char** argv, const char* usage, Take&& take) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--help" || option == "-h") {
            std::cout << usage;
            std::exit(0);
        }
        if (i + 1 >= argc) throw std::invalid_argument("missing value after " + option);
        const std::string value = argv[++i];
        if (!take(option, value)) throw std::invalid_argument("unknown option or value: " + option + " " + value);
    }
}

// A benchmark's main: run() and its exit status, or the failure and `usage` on standard
// error and status 2.
template <class Run>
int run_command(const char* name, const char* usage, Run&& run) {
    try {
        return run();
    } catch (const std::exception& error) {
        std::cerr << name << ": " << error.what() << "\n" << usage;
        return 2;
    }
}

}  // namespace kestrava::bench
