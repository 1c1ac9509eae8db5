// The reading of batch.hpp.
#include "table/batch.hpp"

#include <cstring>

#include "selection/planner/integer_ladder.hpp"
#include "table/arrow_values.hpp"
#include "table/batch_items.hpp"
#include "table/exact_cost.hpp"
#include "table/float_text.hpp"
#include "table/plan_messages.hpp"
#include "table/row_days.hpp"

namespace kestrava::table {

namespace {

constexpr std::string_view none_type = "NoneType";

std::uint64_t float_bits(const ArrowArrayView& values, std::int64_t index) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, values.buffer_views[1].data.as_uint8 + 8 * (values.offset + index), sizeof bits);
    return bits;
}

std::string counted(std::int64_t count, std::string_view noun) {
    return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

std::string place(std::size_t index) { return "prices[" + std::to_string(index) + "]"; }

// plan's message for a price or threshold that is null or not finite.
std::string price_refusal(PriceRead read, const std::string& where, const ArrowArrayView& values, std::int64_t index) {
    if (read == PriceRead::null) return messages::not_a_price_type(where, "None", none_type);
    return messages::not_finite(where, float_repr(float_bits(values, index)));
}

bool is_text_type(ArrowType type) noexcept {
    return type == NANOARROW_TYPE_STRING || type == NANOARROW_TYPE_LARGE_STRING || type == NANOARROW_TYPE_STRING_VIEW;
}

// utf8 with no null among its values, the layout of nearly every table: the views
// straight from its offsets, without a look at each value's type and validity.
bool read_valid_utf8(const ArrowArrayView& values, ListItems items, RowRequest& request) {
    const bool all_valid = values.buffer_views[0].data.data == nullptr || values.null_count == 0;
    if (values.storage_type != NANOARROW_TYPE_STRING || !all_valid) return false;
    const std::int32_t* offsets = values.buffer_views[1].data.as_int32 + values.offset + items.start;
    const char* const characters = values.buffer_views[2].data.as_char;
    for (std::int64_t j = 0; j < items.count; ++j) {
        request.prices.emplace_back(characters + offsets[j], static_cast<std::size_t>(offsets[j + 1] - offsets[j]));
    }
    return true;
}

// Text prices as views of the batch's own buffers, which outlive the row's planning.
std::optional<std::string> read_price_texts(const ArrowArrayView& values, ListItems items, RowRequest& request) {
    if (read_valid_utf8(values, items, request)) return std::nullopt;
    for (std::int64_t j = 0; j < items.count; ++j) {
        const std::int64_t at = items.start + j;
        if (ArrowArrayViewIsNull(&values, at)) {
            return price_refusal(PriceRead::null, place(static_cast<std::size_t>(j)), values, at);
        }
        const ArrowStringView text = ArrowArrayViewGetStringUnsafe(&values, at);
        request.prices.emplace_back(text.data, static_cast<std::size_t>(text.size_bytes));
    }
    return std::nullopt;
}

// A decimal128 column's prices straight as units, where each is below 10^18 in magnitude
// and none is null: the planner then reads no text. At most short_cost_decimals, so that
// the cost is written from the words alone. False leaves them to the texts.
bool read_decimal_words(const ArrowArrayView& values, std::int32_t scale, ListItems items, RowRequest& request) {
    constexpr std::int64_t word_limit = 1'000'000'000'000'000'000;  // 10^18
    if (values.storage_type != NANOARROW_TYPE_DECIMAL128 || scale < 0 ||
        scale > static_cast<std::int32_t>(short_cost_decimals)) {
        return false;
    }
    if (values.buffer_views[0].data.data != nullptr && values.null_count != 0) return false;
    const std::uint8_t* const data = values.buffer_views[1].data.as_uint8 + 16 * (values.offset + items.start);
    request.words.resize(static_cast<std::size_t>(items.count));
    for (std::size_t j = 0; j < request.words.size(); ++j) {
        // Little-endian two's complement: the low word, and a high word that is only its sign.
        std::uint64_t low = 0;
        std::int64_t high = 0;
        std::memcpy(&low, data + 16 * j, sizeof low);
        std::memcpy(&high, data + 16 * j + 8, sizeof high);
        const auto value = static_cast<std::int64_t>(low);
        if (high != (value < 0 ? -1 : 0) || value <= -word_limit || value >= word_limit) return false;
        request.words[j] = value;
    }
    request.words_scale = scale;
    return true;
}

}  // namespace

SelectionRules RowRequest::rules() const noexcept {
    const auto value = [this](CountRule rule) { return static_cast<std::uint64_t>(count(rule)); };
    return {value(CountRule::min_selections), value(CountRule::min_consecutive_periods),
            value(CountRule::max_gap_between_periods), value(CountRule::max_gap_from_start)};
}

rules::Conditions RowRequest::conditions() const noexcept {
    rules::Conditions core;
    if (restricted) core.allowed = std::span<const std::uint8_t>(allowed);
    const std::int64_t running = count(CountRule::running_for);
    const std::int64_t off = count(CountRule::off_for);
    core.running_for_negative = running < 0;
    core.off_for_negative = off < 0;
    core.running_for = running < 0 ? 0 : static_cast<std::uint64_t>(running);
    core.off_for = off < 0 ? 0 : static_cast<std::uint64_t>(off);
    core.strict_end = !allow_short_last_run;
    core.most_expensive = most_expensive;
    core.day_of = day_of;
    core.day_quota = day_quota;
    return core;
}

PriceRead append_price(const ArrowArrayView& values, std::int32_t scale, std::int64_t index, std::string& out) {
    if (ArrowArrayViewIsNull(&values, index)) return PriceRead::null;
    const std::uint8_t* data = values.buffer_views[1].data.as_uint8;
    switch (values.storage_type) {
        case NANOARROW_TYPE_STRING:
        case NANOARROW_TYPE_LARGE_STRING:
        case NANOARROW_TYPE_STRING_VIEW: {
            const ArrowStringView text = ArrowArrayViewGetStringUnsafe(&values, index);
            out.append(text.data, static_cast<std::size_t>(text.size_bytes));
            return PriceRead::ok;
        }
        case NANOARROW_TYPE_DECIMAL128:
            append_decimal_text(data + 16 * (values.offset + index), 16, scale, out);
            return PriceRead::ok;
        case NANOARROW_TYPE_DECIMAL256:
            append_decimal_text(data + 32 * (values.offset + index), 32, scale, out);
            return PriceRead::ok;
        case NANOARROW_TYPE_DOUBLE:
            return append_float_text(float_bits(values, index), out) ? PriceRead::ok : PriceRead::not_finite;
        case NANOARROW_TYPE_UINT64:
            append_unsigned_text(ArrowArrayViewGetUIntUnsafe(&values, index), out);
            return PriceRead::ok;
        default:
            append_integer_text(ArrowArrayViewGetIntUnsafe(&values, index), out);
            return PriceRead::ok;
    }
}

TableBatch::TableBatch(const ArrowSchema& schema, const TableLayout& layout, const RuleScalars& scalars)
    : schema_(schema),
      layout_(layout),
      scalars_(scalars),
      views_(static_cast<std::size_t>(schema.n_children)),
      has_quota_(quota_possible(layout, scalars)) {}

TableOutcome<std::unique_ptr<TableBatch>> TableBatch::make(const ArrowSchema& schema, const TableLayout& layout,
                                                           const RuleScalars& scalars) {
    std::unique_ptr<TableBatch> batch(new TableBatch(schema, layout, scalars));
    ArrowError error{};
    const auto viewed = [&](const Column& column) {
        return !column.present() ||
               ArrowArrayViewInitFromSchema(batch->views_[static_cast<std::size_t>(column.index)].get(),
                                            schema.children[column.index], &error) == NANOARROW_OK;
    };
    bool all = viewed(layout.prices) && viewed(layout.times) && viewed(layout.days);
    for (const Column& column : layout.rules) all = all && viewed(column);
    if (!all) return TableError{TableErrorKind::value, messages::stream_failed(error.message)};
    // The id is only passed on, so a type nanoarrow cannot view is no reason to refuse
    // it; such an id is checked for its length alone.
    if (layout.id.present()) {
        batch->id_viewed_ = ArrowArrayViewInitFromSchema(batch->views_[static_cast<std::size_t>(layout.id.index)].get(),
                                                         schema.children[layout.id.index], nullptr) == NANOARROW_OK;
    }
    return batch;
}

const ArrowArrayView* TableBatch::column(const Column& column) const noexcept {
    return column.present() ? views_[static_cast<std::size_t>(column.index)].get() : nullptr;
}

// The C data interface carries no buffer sizes: what is checked here is what the
// structures themselves say (columns, lengths, offsets, list items, buffer counts). A
// value buffer shorter than its lengths say cannot be told from the structures.
std::optional<std::string> TableBatch::view(const ArrowArray& batch) {
    if (batch.length < 0 || batch.offset < 0) return "the batch has a negative length or offset";
    if (batch.n_children != schema_.n_children) {
        return "the batch has " + counted(batch.n_children, "column") + " where its schema has " +
               std::to_string(schema_.n_children);
    }
    if (batch.n_children > 0 && batch.children == nullptr) return "the batch has no columns";
    offset_ = batch.offset;
    length_ = batch.length;
    if (auto fault = view_column(batch, layout_.id, id_viewed_)) return fault;
    if (auto fault = view_column(batch, layout_.prices, true)) return fault;
    if (auto fault = view_column(batch, layout_.times, true)) return fault;
    if (auto fault = view_column(batch, layout_.days, true)) return fault;
    for (const Column& column : layout_.rules) {
        if (auto fault = view_column(batch, column, true)) return fault;
    }
    return std::nullopt;
}

// Row r of the batch is item offset + r of each column, so a column must hold offset +
// length items. A viewed column is validated at nanoarrow's full level, but a list
// column's items only where the batch's rows hold them (batch_items.hpp).
std::optional<std::string> TableBatch::view_column(const ArrowArray& batch, const Column& column, bool viewed) {
    if (!column.present()) return std::nullopt;
    const ArrowArray* array = batch.children[column.index];
    const std::string name = schema_.children[column.index]->name != nullptr ? schema_.children[column.index]->name : "";
    if (array == nullptr || array->release == nullptr) return "column '" + name + "' is missing from the batch";
    if (array->length < batch.offset + batch.length) {
        return "column '" + name + "' has " + counted(array->length, "row") + " where the batch needs " +
               std::to_string(batch.offset + batch.length);
    }
    if (!viewed) return std::nullopt;
    ArrowArrayView* view = views_[static_cast<std::size_t>(column.index)].get();
    ArrowError error{};
    if (ArrowArrayViewSetArray(view, array, &error) != NANOARROW_OK) return "column '" + name + "': " + error.message;
    if (is_list_type(view->storage_type)) {
        std::optional<std::string> fault = list_rows_fault(*view, batch.offset, batch.length);
        return fault ? std::optional<std::string>("column '" + name + "': " + *fault) : std::nullopt;
    }
    if (ArrowArrayViewValidate(view, NANOARROW_VALIDATION_LEVEL_FULL, &error) != NANOARROW_OK) {
        return "column '" + name + "': " + error.message;
    }
    return std::nullopt;
}

std::optional<TimesFault> TableBatch::read_times(std::int64_t row, RowRequest& request) const noexcept {
    request.times = RowTimes{};
    const ArrowArrayView* times = column(layout_.times);
    if (times == nullptr) return std::nullopt;
    return read_row_times(*times, layout_.times.time_unit, offset_ + row, request.times);
}

std::optional<std::string> TableBatch::read_row(std::int64_t row, RowRequest& request, bool as_texts) const {
    if (auto refusal = read_durations(row, request)) return refusal;
    // A call without a quota never fills a row's days: its rows skip them.
    if (has_quota_) {
        if (auto refusal = read_row_days(*this, row, request)) return refusal;
    }
    if (auto refusal = read_prices(row, request, as_texts)) return refusal;
    if (auto refusal = read_threshold(row, request)) return refusal;
    if (auto refusal = read_counts(row, request, false)) return refusal;
    if (auto refusal = read_flag_and_allowed(row, request)) return refusal;
    return read_counts(row, request, true);
}

// The counts given as durations, in plan's order; a null one is left to read_counts,
// as plan leaves None to the planner. The day counts are read_row_days'.
std::optional<std::string> TableBatch::read_durations(std::int64_t row, RowRequest& request) const {
    const auto duration_of = [&](const Column& column, std::size_t c) -> std::optional<Nanoseconds> {
        if (!column.present()) return scalars_.durations[c];
        if (!column.is_duration() || ArrowArrayViewIsNull(this->column(column), offset_ + row)) return std::nullopt;
        return Nanoseconds{ArrowArrayViewGetIntUnsafe(this->column(column), offset_ + row)} *
               nanoseconds_per_unit(column.time_unit);
    };
    for (std::size_t c = 0; c < planner_count_rule_count; ++c) {
        const std::size_t r = count_rule_index(c);
        request.from_duration[c] = false;
        const std::optional<Nanoseconds> duration = duration_of(layout_.rules[r], c);
        if (!duration) continue;
        if (auto refusal = duration_count(rule_names[r], *duration, request.times, request.counts[c])) return refusal;
        request.from_duration[c] = true;
    }
    return std::nullopt;
}

std::optional<std::string> TableBatch::read_prices(std::int64_t row, RowRequest& request, bool as_texts) const {
    const ArrowArrayView& list = *column(layout_.prices);
    if (ArrowArrayViewIsNull(&list, offset_ + row)) return messages::prices_not_a_sequence(none_type);
    const ListItems items = list_items(list, offset_ + row);
    const auto count = static_cast<std::size_t>(items.count);
    if (count > planner::max_periods) return messages::too_many_prices(planner::max_periods, count);
    if (count == 0) return std::string(messages::prices_empty);
    const ArrowArrayView& values = *list.children[0];
    request.prices.clear();
    request.words_scale = -1;
    if (is_text_type(values.storage_type)) return read_price_texts(values, items, request);
    if (!as_texts && read_decimal_words(values, layout_.prices.scale, items, request)) return std::nullopt;
    request.texts.clear();
    request.ends.clear();
    for (std::size_t j = 0; j < count; ++j) {
        const std::int64_t at = items.start + static_cast<std::int64_t>(j);
        const PriceRead read = append_price(values, layout_.prices.scale, at, request.texts);
        if (read != PriceRead::ok) return price_refusal(read, place(j), values, at);
        request.ends.push_back(request.texts.size());
    }
    // Views once every text is in place: appending may move the buffer.
    std::size_t start = 0;
    for (const std::size_t end : request.ends) {
        request.prices.emplace_back(request.texts.data() + start, end - start);
        start = end;
    }
    return std::nullopt;
}

std::optional<std::string> TableBatch::read_threshold(std::int64_t row, RowRequest& request) const {
    const Column& column = layout_.rule(Rule::low_price_threshold);
    if (!column.present()) {
        request.threshold = scalars_.threshold;
        return std::nullopt;
    }
    request.threshold.clear();
    const ArrowArrayView& values = *this->column(column);
    const PriceRead read = append_price(values, column.scale, offset_ + row, request.threshold);
    if (read == PriceRead::ok) return std::nullopt;
    return price_refusal(read, rule_name(Rule::low_price_threshold), values, offset_ + row);
}

std::optional<std::string> TableBatch::read_counts(std::int64_t row, RowRequest& request, bool carried) const {
    const std::size_t first = carried ? 4 : 0;
    for (std::size_t c = first; c < first + (carried ? 2 : 4); ++c) {
        const std::size_t r = count_rule_index(c);
        const Column& column = layout_.rules[r];
        if (request.from_duration[c]) continue;
        if (!column.present()) {
            request.counts[c] = scalars_.counts[c];
            continue;
        }
        const ArrowArrayView* values = this->column(column);
        if (ArrowArrayViewIsNull(values, offset_ + row)) return messages::count_not_an_int(rule_names[r], none_type);
        request.counts[c] = ArrowArrayViewGetIntUnsafe(values, offset_ + row);
        if (!carried && request.counts[c] < 0) {
            return messages::count_negative(rule_names[r], std::to_string(request.counts[c]));
        }
    }
    return std::nullopt;
}

std::optional<std::string> TableBatch::read_flag(Rule rule, std::int64_t row, bool scalar, bool& value) const {
    value = scalar;
    if (const ArrowArrayView* flags = column(layout_.rule(rule))) {
        if (ArrowArrayViewIsNull(flags, offset_ + row)) return messages::flag_not_a_bool(rule_name(rule), none_type);
        value = ArrowArrayViewGetIntUnsafe(flags, offset_ + row) != 0;
    }
    return std::nullopt;
}

std::optional<std::string> TableBatch::read_flag_and_allowed(std::int64_t row, RowRequest& request) const {
    if (auto refusal = read_flag(Rule::aggressive, row, scalars_.aggressive, request.aggressive)) return refusal;
    if (auto refusal = read_flag(Rule::most_expensive, row, scalars_.most_expensive, request.most_expensive)) {
        return refusal;
    }
    if (auto refusal =
            read_flag(Rule::allow_short_last_run, row, scalars_.allow_short_last_run, request.allow_short_last_run)) {
        return refusal;
    }
    request.restricted = false;
    const ArrowArrayView* allowed = column(layout_.rule(Rule::allowed));
    if (allowed == nullptr || ArrowArrayViewIsNull(allowed, offset_ + row)) return std::nullopt;
    request.restricted = true;
    const ListItems items = list_items(*allowed, offset_ + row);
    const ArrowArrayView& values = *allowed->children[0];
    request.allowed.resize(static_cast<std::size_t>(items.count));
    for (std::int64_t j = 0; j < items.count; ++j) {
        const std::int64_t at = items.start + j;
        if (ArrowArrayViewIsNull(&values, at)) {
            return messages::allowed_item_not_a_bool(static_cast<std::size_t>(j), none_type);
        }
        request.allowed[static_cast<std::size_t>(j)] = ArrowArrayViewGetIntUnsafe(&values, at) != 0 ? 1 : 0;
    }
    return std::nullopt;
}

}  // namespace kestrava::table
