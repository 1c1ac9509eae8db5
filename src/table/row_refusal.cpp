// The messages of row_refusal.hpp.
#include "table/row_refusal.hpp"

#include <cstring>

#include "table/arrow_values.hpp"
#include "table/float_text.hpp"
#include "table/refusal_message.hpp"

namespace kestrava::table {

namespace {

// A row's values as plan would show them had it been given the row's prices (the
// column's values, as Python objects) and counts (ints, below 2^63 here).
class RowTexts final : public RequestTexts {
public:
    RowTexts(const TableBatch& batch, std::int64_t row, const RowRequest& request, Formatter& formatter)
        : batch_(batch), row_(row), request_(request), formatter_(formatter) {}

    std::string count(CountRule rule) const override { return std::to_string(request_.count(rule)); }
    std::string price(std::optional<std::size_t> index) const override {
        return index ? shown_price(*index) : formatter_.text(request_.threshold);
    }
    bool has_conditions() const override { return true; }
    bool carried_run() const override { return request_.count(CountRule::running_for) > 0; }
    bool off_for_above_gap() const override {
        return request_.count(CountRule::max_gap_between_periods) < request_.count(CountRule::off_for);
    }
    std::string day_name(std::size_t day) const override { return iso_date(request_.day_dates[day]); }

private:
    std::string shown_price(std::size_t j) const;

    const TableBatch& batch_;
    std::int64_t row_;
    const RowRequest& request_;
    Formatter& formatter_;
};

std::string RowTexts::shown_price(std::size_t j) const {
    const ArrowArrayView& list = *batch_.column(batch_.layout().prices);
    const ArrowArrayView& values = *list.children[0];
    const std::string_view text = request_.prices[j];
    switch (values.storage_type) {
        case NANOARROW_TYPE_STRING:
        case NANOARROW_TYPE_LARGE_STRING:
        case NANOARROW_TYPE_STRING_VIEW:
            return formatter_.text(text);
        case NANOARROW_TYPE_DECIMAL128:
        case NANOARROW_TYPE_DECIMAL256:
            return formatter_.decimal(text);
        case NANOARROW_TYPE_DOUBLE: {
            const std::int64_t at = list_items(list, batch_.offset() + row_).start + static_cast<std::int64_t>(j);
            std::uint64_t bits = 0;
            std::memcpy(&bits, values.buffer_views[1].data.as_uint8 + 8 * (values.offset + at), sizeof bits);
            return float_repr(bits);
        }
        default:
            return std::string(text);
    }
}

}  // namespace

std::string row_refusal(const TableBatch& batch, std::int64_t row, const Error& error, Formatter& formatter) {
    RowRequest request;
    batch.read_times(row, request);
    batch.read_row(row, request, true);
    return refusal_message(error, request.prices.size(), RowTexts(batch, row, request, formatter));
}

std::string times_refusal(const TableBatch& batch, std::int64_t row, const TimesFault& fault, Formatter& formatter) {
    const Column& column = batch.layout().times;
    RowRequest request;
    batch.read_times(row, request);
    const std::optional<Nanoseconds> fixed = fixed_offset(column.time_zone);
    return times_fault_message(fault, request.times, *batch.column(column), column.time_unit, [&](Nanoseconds utc) {
        return fixed ? *fixed : formatter.offset_at(column.time_zone, utc);
    });
}

}  // namespace kestrava::table
