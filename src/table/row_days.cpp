// The days of row_days.hpp.
#include "table/row_days.hpp"

#include <algorithm>
#include <limits>

#include "table/arrow_values.hpp"
#include "table/plan_messages.hpp"

namespace kestrava::table {

namespace {

constexpr auto quota_index = static_cast<std::size_t>(CountRule::min_per_day);
constexpr auto done_index = static_cast<std::size_t>(CountRule::done_today);

// A day count as the row gives it: None, a count, or a duration.
struct DayCount {
    bool null = false;
    std::int64_t count = 0;
    std::optional<Nanoseconds> duration;

    // plan's "given": not zero, as a count or as a duration.
    bool given() const noexcept { return duration ? *duration != 0 : count != 0; }
    std::string text() const { return duration ? timedelta_text(*duration) : std::to_string(count); }
};

DayCount day_count(const TableBatch& batch, std::size_t c, std::int64_t row) {
    const Column& column = batch.layout().rules[count_rule_index(c)];
    DayCount read;
    if (!column.present()) {
        read.count = batch.scalars().counts[c];
        read.duration = batch.scalars().durations[c];
        return read;
    }
    const ArrowArrayView& values = *batch.column(column);
    const std::int64_t at = batch.offset() + row;
    read.null = ArrowArrayViewIsNull(&values, at);
    if (read.null) return read;
    const std::int64_t value = ArrowArrayViewGetIntUnsafe(&values, at);
    if (column.is_duration()) {
        read.duration = Nanoseconds{value} * nanoseconds_per_unit(column.time_unit);
    } else {
        read.count = value;
    }
    return read;
}

// The count of a given day count, or plan's refusal of it.
std::optional<std::string> periods_of(std::size_t c, const DayCount& value, const RowTimes& times,
                                      std::int64_t& count) {
    if (value.null) return std::string(messages::none_not_an_index);
    count = value.count;
    if (!value.duration) return std::nullopt;
    return duration_count(rule_names[count_rule_index(c)], *value.duration, times, count);
}

// plan's message for times with a fixed offset and no zone: a day would be a day of that offset.
std::string fixed_offset_refusal(const TableBatch& batch, const RowRequest& request) {
    const Column& times = batch.layout().times;
    const Nanoseconds first = row_time(*batch.column(times), times.time_unit, request.times, 0);
    return messages::quota_fixed_offset(iso_time(first, fixed_offset(times.time_zone).value_or(0)));
}

// The rows' prices and times differ in length: plan compares them before it plans a quota.
std::optional<std::string> lengths_refusal(const TableBatch& batch, std::int64_t row, const RowRequest& request) {
    const ArrowArrayView& prices = *batch.column(batch.layout().prices);
    if (ArrowArrayViewIsNull(&prices, batch.offset() + row)) return std::nullopt;  // the planner refuses it
    const auto count = static_cast<std::size_t>(list_items(prices, batch.offset() + row).count);
    if (count == request.times.count) return std::nullopt;
    return times_length_message(request.times.count, count);
}

// Each period's day, from 0, a new one wherever the local date changes; false when the
// days column does not hold one date per time.
bool read_dates(const TableBatch& batch, std::int64_t row, RowRequest& request) {
    const ArrowArrayView& list = *batch.column(batch.layout().days);
    const std::int64_t at = batch.offset() + row;
    if (ArrowArrayViewIsNull(&list, at)) return false;
    const ListItems items = list_items(list, at);
    if (items.count != static_cast<std::int64_t>(request.times.count)) return false;
    const ArrowArrayView& dates = *list.children[0];
    for (std::int64_t j = 0; j < items.count; ++j) {
        if (ArrowArrayViewIsNull(&dates, items.start + j)) return false;
        const auto date = static_cast<std::int32_t>(ArrowArrayViewGetIntUnsafe(&dates, items.start + j));
        if (request.day_dates.empty() || request.day_dates.back() != date) request.day_dates.push_back(date);
        request.day_of.push_back(static_cast<std::uint32_t>(request.day_dates.size() - 1));
    }
    return true;
}

}  // namespace

bool quota_possible(const TableLayout& layout, const RuleScalars& scalars) noexcept {
    return layout.rule(Rule::min_per_day).present() || layout.rule(Rule::done_today).present() ||
           scalars.counts[quota_index] != 0 || scalars.counts[done_index] != 0 || scalars.durations[quota_index] ||
           scalars.durations[done_index];
}

std::optional<std::string> read_row_days(const TableBatch& batch, std::int64_t row, RowRequest& request) {
    request.day_of.clear();
    request.day_quota.clear();
    request.day_dates.clear();
    const DayCount quota = day_count(batch, quota_index, row);
    const DayCount done = day_count(batch, done_index, row);
    if (quota.null) return std::string(messages::none_not_an_index);
    if (!quota.given()) {
        if (done.null) return std::string(messages::none_not_an_index);
        if (done.given()) return messages::done_today_without_quota(done.text());
        return std::nullopt;
    }
    if (!request.times.given) return messages::quota_untimed();
    std::int64_t counts[2] = {0, 0};
    if (auto refusal = periods_of(quota_index, quota, request.times, counts[0])) return refusal;
    if (auto refusal = periods_of(done_index, done, request.times, counts[1])) return refusal;
    for (std::size_t k = 0; k < 2; ++k) {
        if (counts[k] < 0) {
            return messages::quota_count_negative(rule_names[count_rule_index(quota_index + k)],
                                                  std::to_string(counts[k]));
        }
    }
    if (!batch.layout().days.present()) return fixed_offset_refusal(batch, request);
    if (auto refusal = lengths_refusal(batch, row, request)) return refusal;
    // plan hands the planner each day's quota as a 32-bit count.
    if (counts[0] > std::numeric_limits<std::uint32_t>::max() || !read_dates(batch, row, request)) {
        request.day_of.clear();
        request.day_dates.clear();
        return std::string(messages::day_quota_mismatch);
    }
    request.day_quota.assign(request.day_dates.size(), static_cast<std::uint32_t>(counts[0]));
    request.day_quota[0] = static_cast<std::uint32_t>(std::max<std::int64_t>(0, counts[0] - counts[1]));
    return std::nullopt;
}

}  // namespace kestrava::table
