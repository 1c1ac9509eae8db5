// libFuzzer harness for the whole selection entry, get_cheapest_periods: the input
// bytes decode into a request (price texts, elements that are no text, a price source
// that shrinks or grows while it is read, a threshold, four counts and the strategy
// flag), and the entry's answer is checked against what the request must give:
//
//  - a conversion or validation failure: exactly the error of the first broken rule,
//    after reading exactly the elements up to the first failing one;
//  - a shortcut: every index;
//  - a search: the exhaustive search's own answer, called directly, which must be a
//    selection that meets every timing rule; and the fast planner, whenever it
//    answers, gives the same selection or the same error.
//
// The source hands every text out in a fresh buffer of exactly its size and frees it
// at the next read, so the address sanitizer catches a text read past its end or
// kept beyond the next read.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "decimal/decimal.hpp"
#include "selection/exhaustive/exhaustive.hpp"
#include "selection/internal_failure.hpp"
#include "selection/item.hpp"
#include "selection/planner/item_plans.hpp"
#include "selection/requests/request.hpp"
#include "selection/rules/selection_rules.hpp"

namespace {

using namespace kestrava;

// Requests that reach a search keep to this many prices, so that the exhaustive
// search answers in well under a millisecond.
constexpr std::size_t max_searched_prices = 10;
constexpr std::uint64_t all_ones = std::numeric_limits<std::uint64_t>::max();

struct FuzzRequest {
    std::vector<std::optional<std::string>> elements;  // nullopt: an element that is no text
    std::size_t starting_size = 0;                     // the size when reading begins
    std::size_t resize_after_reads = 0;                // after this many reads the size is later_size
    std::size_t later_size = 0;
    std::string threshold;
    SelectionRules rules;
    bool aggressive = true;

    // The size the source reports once `reads` elements have been read.
    std::size_t size_after(std::size_t reads) const noexcept {
        return reads >= resize_after_reads ? later_size : starting_size;
    }

    std::string describe() const {
        std::ostringstream out;
        out << "prices [";
        for (std::size_t i = 0; i < elements.size(); ++i) {
            out << (i ? ", " : "");
            if (elements[i]) {
                out << '"' << *elements[i] << '"';
            } else {
                out << "<no text>";
            }
        }
        out << "] (size " << starting_size << ", " << later_size << " after " << resize_after_reads
            << " reads), threshold \"" << threshold << "\", min_selections " << rules.min_selections
            << ", min_consecutive_periods " << rules.min_consecutive_periods << ", max_gap_between_periods "
            << rules.max_gap_between_periods << ", max_gap_from_start " << rules.max_gap_from_start << ", "
            << (aggressive ? "aggressive" : "conservative");
        return out.str();
    }
};

[[noreturn]] void fail(const FuzzRequest& request, const std::string& what) {
    std::fprintf(stderr, "selection check failed: %s\n  request: %s\n", what.c_str(), request.describe().c_str());
    std::abort();
}

// The price texts of a FuzzRequest, read as the entry's contract allows: in order,
// each once, never at or beyond the size reported at that moment.
class FuzzPriceSource final : public PriceTextSource {
public:
    explicit FuzzPriceSource(const FuzzRequest& request) : request_(request) {}

    std::size_t current_size() const noexcept override { return request_.size_after(reads_); }

    std::optional<std::string_view> text_at(std::size_t index) noexcept override {
        if (index >= current_size()) fail(request_, "an element was read at or beyond the current size");
        if (index != reads_) fail(request_, "elements were not read in order, each once");
        ++reads_;
        current_text_.reset();  // the previous text is gone: using it now is a use after free
        const std::optional<std::string>& element = request_.elements[index];
        if (!element) return std::nullopt;
        current_text_ = std::make_unique<char[]>(element->size());
        element->copy(current_text_.get(), element->size());
        return std::string_view(current_text_.get(), element->size());
    }

    std::size_t reads() const noexcept { return reads_; }

private:
    const FuzzRequest& request_;
    std::size_t reads_ = 0;
    std::unique_ptr<char[]> current_text_;
};

// ---- Decoding bytes into a request -------------------------------------------------

std::string fixed_point_text(std::int64_t units, unsigned scale) {
    const bool negative = units < 0;
    std::string digits = std::to_string(negative ? -units : units);
    if (digits.size() <= scale) digits.insert(0, scale + 1 - digits.size(), '0');
    if (scale > 0) digits.insert(digits.size() - scale, ".");
    return (negative ? "-" : "") + digits;
}

// Few distinct values, so that equal costs and equal averages (the tie-breaks) are common.
std::string small_price(FuzzedDataProvider& in) {
    const auto units = in.ConsumeIntegralInRange<std::int64_t>(-20, 60);
    const auto scale = in.ConsumeIntegralInRange<unsigned>(0, 2);
    return fixed_point_text(units, scale);
}

std::string price_text(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<int>(0, 19)) {
        case 14:  // any bytes at all
            return in.ConsumeRandomLengthString(24);
        case 15:  // near the largest magnitude: sums overflow
            return in.ConsumeBool() ? "79228162514264337593543950335" : "-39614081257132168796771975168";
        case 16: {  // more fractional digits than can be stored
            std::string text = "0.";
            for (int i = 0; i < 30; ++i) text.push_back(static_cast<char>('0' + in.ConsumeIntegralInRange<int>(0, 9)));
            return text;
        }
        case 17:  // the same value spelled another way
            return "+" + small_price(in) + "_0";
        case 18:  // a small price at the finest scale
            return fixed_point_text(in.ConsumeIntegralInRange<std::int64_t>(-9, 9), 28);
        default:
            return small_price(in);
    }
}

std::uint64_t count_up_to(FuzzedDataProvider& in, std::uint64_t usual_limit) {
    switch (in.ConsumeIntegralInRange<int>(0, 15)) {
        case 14:
            return all_ones;
        case 15:
            return in.ConsumeIntegral<std::uint64_t>();
        default:
            return in.ConsumeIntegralInRange<std::uint64_t>(0, usual_limit);
    }
}

FuzzRequest decode(FuzzedDataProvider& in, bool& wide) {
    FuzzRequest request;
    request.aggressive = in.ConsumeBool();
    const int shape = in.ConsumeIntegralInRange<int>(0, 15);
    wide = shape >= 12 && shape <= 13;
    request.starting_size = wide ? in.ConsumeIntegralInRange<std::size_t>(max_searched_prices + 1, 31)
                                 : in.ConsumeIntegralInRange<std::size_t>(0, max_searched_prices);
    request.later_size = request.starting_size;
    request.resize_after_reads = request.starting_size;
    if (shape >= 14 && request.starting_size > 0) {  // the source shrinks or grows after some reads
        request.resize_after_reads = in.ConsumeIntegralInRange<std::size_t>(1, request.starting_size);
        request.later_size = in.ConsumeIntegralInRange<std::size_t>(0, max_searched_prices + 2);
    }
    const std::size_t stored = std::max(request.starting_size, request.later_size);
    for (std::size_t i = 0; i < stored; ++i) {
        // About one element in forty is no text.
        if (in.ConsumeIntegralInRange<int>(0, 39) == 0) {
            request.elements.emplace_back(std::nullopt);
        } else {
            request.elements.emplace_back(price_text(in));
        }
    }
    request.threshold = in.ConsumeIntegralInRange<int>(0, 15) == 0 ? price_text(in) : small_price(in);
    const std::uint64_t n = request.starting_size;
    request.rules.min_selections = count_up_to(in, n + 1);
    request.rules.min_consecutive_periods =
        count_up_to(in, std::min<std::uint64_t>(request.rules.min_selections, n) + 1);
    request.rules.max_gap_between_periods = count_up_to(in, n + 1);
    request.rules.max_gap_from_start =
        count_up_to(in, std::min<std::uint64_t>(request.rules.max_gap_between_periods, n) + 1);
    return request;
}

// ---- What the request must give ---------------------------------------------------

struct Expected {
    enum class Kind { error, every_index, search } kind = Kind::error;
    ErrorKind error = ErrorKind::prices_empty;
    std::size_t reads = 0;  // elements the entry reads
    std::vector<Decimal> prices;
    Decimal threshold;
};

Expected expected_outcome(const FuzzRequest& request) {
    Expected expected;
    auto failed = [&](ErrorKind error) {
        expected.kind = Expected::Kind::error;
        expected.error = error;
        return expected;
    };
    for (std::size_t i = 0; i < request.starting_size && i < request.size_after(i); ++i) {
        ++expected.reads;
        if (!request.elements[i]) return failed(ErrorKind::price_not_text);
        const std::optional<Decimal> price = Decimal::parse(*request.elements[i]);
        if (!price) return failed(ErrorKind::invalid_price);
        expected.prices.push_back(*price);
    }
    const std::optional<Decimal> threshold = Decimal::parse(request.threshold);
    if (!threshold) return failed(ErrorKind::invalid_threshold);
    expected.threshold = *threshold;

    const std::uint64_t n = expected.prices.size();
    const SelectionRules& rules = request.rules;
    if (n == 0) return failed(ErrorKind::prices_empty);
    if (n > max_price_count) return failed(ErrorKind::too_many_prices);
    if (rules.min_selections == 0) return failed(ErrorKind::min_selections_zero);
    if (rules.min_selections > n) return failed(ErrorKind::min_selections_above_count);
    if (rules.min_consecutive_periods == 0) return failed(ErrorKind::min_consecutive_zero);
    if (rules.min_consecutive_periods > rules.min_selections) {
        return failed(ErrorKind::min_consecutive_above_selections);
    }
    if (rules.max_gap_from_start > rules.max_gap_between_periods) {
        return failed(ErrorKind::start_gap_above_gap);
    }
    bool every_price_cheap = true;
    for (const Decimal& price : expected.prices) every_price_cheap = every_price_cheap && price <= *threshold;
    expected.kind =
        rules.min_selections == n || every_price_cheap ? Expected::Kind::every_index : Expected::Kind::search;
    return expected;
}

// One answer: indices, an error value, or the message of an internal failure.
using Answer = std::variant<IndexList, Error, std::string>;

template <class Run>
Answer answer_of(Run&& run) {
    try {
        kestrava::Outcome<IndexList> result = run();
        if (result.ok()) return std::move(result).value();
        return result.error();
    } catch (const InternalFailure& failure) {
        return failure.message();
    }
}

std::string show(const Answer& outcome) {
    std::ostringstream out;
    if (const auto* indices = std::get_if<IndexList>(&outcome)) {
        out << "indices [";
        for (std::size_t i = 0; i < indices->size(); ++i) out << (i ? ", " : "") << (*indices)[i];
        out << "]";
    } else if (const auto* error = std::get_if<Error>(&outcome)) {
        out << "error kind " << static_cast<int>(error->kind) << " (item count " << error->item_count << ")";
    } else {
        out << "internal failure \"" << std::get<std::string>(outcome) << "\"";
    }
    return out.str();
}

// The timing rules, read directly: leading gap, inner gaps, trailing gap, and every
// consecutive block at least min_consecutive_periods long except a last block that
// ends at the final period.
bool meets_timing_rules(const IndexList& indices, std::uint64_t n, const SelectionRules& rules) {
    if (indices.empty()) return false;
    if (indices.front() > rules.max_gap_from_start || indices.front() > rules.max_gap_between_periods) return false;
    if (n - 1 - indices.back() > rules.max_gap_between_periods) return false;
    std::uint64_t block_length = 1;
    for (std::size_t i = 1; i < indices.size(); ++i) {
        if (indices[i] - indices[i - 1] - 1 > rules.max_gap_between_periods) return false;
        if (indices[i] == indices[i - 1] + 1) {
            ++block_length;
        } else {
            if (block_length < rules.min_consecutive_periods) return false;
            block_length = 1;
        }
    }
    return indices.back() == n - 1 || block_length >= rules.min_consecutive_periods;
}

void check_search(const FuzzRequest& request, const Expected& expected, const Answer& entry) {
    std::vector<Item> items;
    std::vector<Item> cheap_items;
    for (std::size_t i = 0; i < expected.prices.size(); ++i) {
        items.push_back(Item{i, expected.prices[i]});
        if (expected.prices[i] <= expected.threshold) cheap_items.push_back(items.back());
    }
    const SelectionRules& rules = request.rules;
    const Answer exhaustive = answer_of([&] {
        return request.aggressive ? exhaustive::search_aggressive(items, cheap_items, rules)
                                  : exhaustive::search_conservative(items, cheap_items, rules);
    });
    if (entry != exhaustive) fail(request, "entry gave " + show(entry) + ", the exhaustive search " + show(exhaustive));

    if (const auto* indices = std::get_if<IndexList>(&exhaustive)) {
        for (std::size_t i = 0; i < indices->size(); ++i) {
            if ((*indices)[i] >= items.size() || (i > 0 && (*indices)[i] <= (*indices)[i - 1])) {
                fail(request, "the selection is not ascending indices of the request: " + show(exhaustive));
            }
        }
        if (indices->size() < rules.min_selections) fail(request, "fewer than min_selections: " + show(exhaustive));
        if (!meets_timing_rules(*indices, items.size(), rules)) {
            fail(request, "the selection breaks a timing rule: " + show(exhaustive));
        }
    } else if (std::holds_alternative<Error>(exhaustive)) {
        // Selecting every period meets every rule of a valid request, so a search
        // always has an answer.
        fail(request, "a valid request found no selection: " + show(exhaustive));
    }

    const Outcome<IndexList, DeclineReason> planned = plan_exact(items, cheap_items, rules, request.aggressive);
    if (!planned.ok()) return;  // left to the exhaustive search
    const Answer fast(planned.value());
    if (fast != exhaustive)
        fail(request, "fast planner gave " + show(fast) + ", the exhaustive search " + show(exhaustive));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    bool wide = false;
    FuzzRequest request = decode(in, wide);
    Expected expected = expected_outcome(request);
    if (wide && expected.kind == Expected::Kind::search) {
        // Too many prices to search exhaustively here: asking for every period still
        // runs conversion, validation and the shortcut at full size.
        request.rules.min_selections = expected.prices.size();
        expected = expected_outcome(request);
    }

    // The threshold in an exact-size buffer, so a read past its end is caught.
    const std::unique_ptr<char[]> threshold = std::make_unique<char[]>(request.threshold.size());
    request.threshold.copy(threshold.get(), request.threshold.size());
    FuzzPriceSource source(request);
    const Answer entry = answer_of([&] {
        return get_cheapest_periods(source, std::string_view(threshold.get(), request.threshold.size()), request.rules,
                                    request.aggressive);
    });
    if (source.reads() != expected.reads) {
        fail(request,
             "read " + std::to_string(source.reads()) + " elements, expected " + std::to_string(expected.reads));
    }

    switch (expected.kind) {
        case Expected::Kind::error:
            // The item count is carried by the no-result errors only, which no
            // conversion or validation failure is.
            if (!std::holds_alternative<Error>(entry) ||
                std::get<Error>(entry).kind != expected.error) {
                fail(request, "expected error kind " + std::to_string(static_cast<int>(expected.error)) + ", got " +
                                  show(entry));
            }
            break;
        case Expected::Kind::every_index: {
            IndexList every(expected.prices.size());
            for (std::size_t i = 0; i < every.size(); ++i) every[i] = i;
            if (entry != Answer(every)) fail(request, "expected every index, got " + show(entry));
            break;
        }
        case Expected::Kind::search:
            check_search(request, expected, entry);
            break;
    }
    return 0;
}
