// One batch of plan_table's data and the reading of its rows as requests to the
// planner: the texts of the prices (a text as it is, a
// decimal at its scale, an integer's digits, a float's shortest repr), the threshold,
// the counts, the flag and the conditions. A row whose values `plan` would refuse
// before planning (a null list or price, a float that is not finite, a negative count)
// gets plan's message for them, checked in plan's order: the times first, then the
// rules given as durations, then what the planner reads.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "selection/rules/conditions.hpp"
#include "selection/rules/selection_rules.hpp"
#include "table/arrow_handles.hpp"
#include "table/columns.hpp"
#include "table/times.hpp"

namespace kestrava::table {

// The rules given once for every row (those that come from columns are unused).
struct RuleScalars {
    std::string threshold;  // a decimal text the planner accepts
    std::array<std::int64_t, count_rule_count> counts{};
    std::array<std::optional<Nanoseconds>, count_rule_count> durations{};  // a count given as a timedelta
    bool aggressive = true;
    bool most_expensive = false;
    bool allow_short_last_run = true;
};

// A row as the planner takes it; kept per thread and refilled row after row.
struct RowRequest {
    std::string texts;               // the prices' texts, one after another
    std::vector<std::size_t> ends;   // where each ends in `texts`
    std::vector<std::string_view> prices;
    // A decimal column's prices, where each fits: units of 10^-words_scale below 10^18,
    // with no texts; words_scale < 0 when the prices are texts.
    std::vector<std::int64_t> words;
    int words_scale = -1;
    std::string threshold;
    std::array<std::int64_t, count_rule_count> counts{};
    std::array<bool, count_rule_count> from_duration{};  // the count was a duration, already converted
    RowTimes times;
    bool aggressive = true;
    bool most_expensive = false;
    bool allow_short_last_run = true;
    bool restricted = false;  // allowed was given for this row
    std::vector<std::uint8_t> allowed;
    // A quota per day (row_days.hpp): each period's day, each day's quota and local
    // date (days since 1970-01-01); all empty without a quota.
    std::vector<std::uint32_t> day_of;
    std::vector<std::uint32_t> day_quota;
    std::vector<std::int32_t> day_dates;

    std::int64_t count(CountRule rule) const noexcept { return counts[static_cast<std::size_t>(rule)]; }
    bool in_words() const noexcept { return words_scale >= 0; }
    std::size_t price_count() const noexcept { return in_words() ? words.size() : prices.size(); }
    SelectionRules rules() const noexcept;
    // The core's conditions; the mask is a view of `allowed`.
    rules::Conditions conditions() const noexcept;
};

class TableBatch {
public:
    // Views for the columns of `layout`, typed by `schema` (a struct of columns), which
    // with `scalars` outlive the batch; a `value` error when nanoarrow cannot view a
    // column's type.
    static TableOutcome<std::unique_ptr<TableBatch>> make(const ArrowSchema& schema, const TableLayout& layout,
                                                          const RuleScalars& scalars);

    // Views `batch` (which must outlive the views) once it is checked against the
    // schema: answers what does not match, before anything of it is read.
    std::optional<std::string> view(const ArrowArray& batch);
    std::int64_t length() const noexcept { return length_; }
    // The batch's own offset into its columns: row r is item offset() + r of a column.
    std::int64_t offset() const noexcept { return offset_; }

    // Reads the times of row `row` into `request` (none without a times column), and
    // answers what plan refuses in them.
    std::optional<TimesFault> read_times(std::int64_t row, RowRequest& request) const noexcept;
    // After read_times found no fault: fills `request` with row `row`, or answers the
    // message of plan's refusal. A decimal column's prices are read as words where
    // they fit, unless `as_texts` asks for the texts, which a refusal's message shows.
    std::optional<std::string> read_row(std::int64_t row, RowRequest& request, bool as_texts = false) const;

    const TableLayout& layout() const noexcept { return layout_; }
    const RuleScalars& scalars() const noexcept { return scalars_; }
    // Whether a row may have a quota per day: without, its days are never read.
    bool has_quota() const noexcept { return has_quota_; }
    // The view of a rule's column or the prices' (nullptr for a scalar rule).
    const ArrowArrayView* column(const Column& column) const noexcept;

private:
    TableBatch(const ArrowSchema& schema, const TableLayout& layout, const RuleScalars& scalars);

    std::optional<std::string> read_durations(std::int64_t row, RowRequest& request) const;
    std::optional<std::string> read_prices(std::int64_t row, RowRequest& request, bool as_texts) const;
    std::optional<std::string> read_threshold(std::int64_t row, RowRequest& request) const;
    std::optional<std::string> read_counts(std::int64_t row, RowRequest& request, bool carried) const;
    std::optional<std::string> read_flag_and_allowed(std::int64_t row, RowRequest& request) const;
    // The value of a bool rule in this row: its column's, else the scalar; a refusal for a null.
    std::optional<std::string> read_flag(Rule rule, std::int64_t row, bool scalar, bool& value) const;

    std::optional<std::string> view_column(const ArrowArray& batch, const Column& column, bool viewed);

    const ArrowSchema& schema_;
    const TableLayout& layout_;
    const RuleScalars& scalars_;
    std::vector<ArrayView> views_;  // one per column of the batch; only those in use are set
    std::int64_t offset_ = 0;       // the batch's own offset into its columns
    std::int64_t length_ = 0;
    bool id_viewed_ = false;  // nanoarrow views the id's type
    bool has_quota_ = false;
};

enum class PriceRead { ok, null, not_finite };
// Appends the text of value `index` of `values` (of a price type, with a decimal's
// `scale`) to `out`.
PriceRead append_price(const ArrowArrayView& values, std::int32_t scale, std::int64_t index, std::string& out);

}  // namespace kestrava::table
