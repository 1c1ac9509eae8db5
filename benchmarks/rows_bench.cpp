// kestrava_rows_bench: the planner's own time per request, for requests given on
// standard input, one a line: aggressive (0 or 1), threshold, min_selections,
// min_consecutive_periods, max_gap_between_periods, max_gap_from_start, then the
// prices, separated by tabs. It plans every request in turn, `--rounds N` times
// (default 5), through the text entry that a table's rows take (parsing included, and
// the memory kept from one request to the next), and prints the best round's
// nanoseconds per request.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "selection/requests/cheapest_periods.hpp"

namespace {

struct Request {
    bool aggressive = true;
    std::string threshold;
    kestrava::SelectionRules rules;
    std::vector<std::string> prices;
    std::vector<std::string_view> views;
};

std::vector<std::string> fields_of(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream stream(line);
    std::string field;
    while (std::getline(stream, field, '\t')) fields.push_back(field);
    return fields;
}

std::vector<Request> read_requests(std::istream& input) {
    std::vector<Request> requests;
    std::string line;
    while (std::getline(input, line)) {
        const std::vector<std::string> fields = fields_of(line);
        if (fields.size() < 7) continue;
        Request request;
        request.aggressive = fields[0] == "1";
        request.threshold = fields[1];
        const auto count = [&](std::size_t i) { return std::strtoull(fields[i].c_str(), nullptr, 10); };
        request.rules = kestrava::SelectionRules{count(2), count(3), count(4), count(5)};
        request.prices.assign(fields.begin() + 6, fields.end());
        requests.push_back(std::move(request));
    }
    for (Request& request : requests) request.views.assign(request.prices.begin(), request.prices.end());
    return requests;
}

// Nanoseconds for one pass over every request; the answers' sizes go to `checksum`
// so that no call can be left out.
std::uint64_t one_round(const std::vector<Request>& requests, std::uint64_t& checksum) {
    kestrava::planner::RequestMemory memory;
    const auto start = std::chrono::steady_clock::now();
    for (const Request& request : requests) {
        const auto outcome = kestrava::planner::plan_periods(memory, request.views, request.threshold, request.rules,
                                                             {}, request.aggressive);
        checksum += outcome.ok() ? outcome.value().periods.size() : 1;
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count());
}

}  // namespace

int main(int argc, char** argv) {
    unsigned rounds = 5;
    if (argc == 3 && std::string_view(argv[1]) == "--rounds") rounds = static_cast<unsigned>(std::atoi(argv[2]));
    const std::vector<Request> requests = read_requests(std::cin);
    if (requests.empty() || rounds == 0) {
        std::cerr << "usage: kestrava_rows_bench [--rounds N] < REQUESTS (tab-separated, one a line)\n";
        return 2;
    }
    std::uint64_t checksum = 0;
    std::uint64_t best = std::numeric_limits<std::uint64_t>::max();
    for (unsigned round = 0; round < rounds; ++round) best = std::min(best, one_round(requests, checksum));
    std::cout << best / requests.size() << " ns per request, " << requests.size() << " requests (checksum "
              << checksum << ")\n";
    return 0;
}
