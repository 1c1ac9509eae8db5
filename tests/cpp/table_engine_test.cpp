// The table engine on tables built here through nanoarrow: every row against the
// planner called directly (periods, count, and the cost as Decimal sums it), plan's
// messages for the rows it refuses and for the calls it ends, a batch's offset, one
// thread against several, and the stop check ending a batch.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "decimal/decimal.hpp"
#include "planner_requests.hpp"
#include "selection/requests/cheapest_periods.hpp"
#include "table/run.hpp"

namespace kestrava::table {
namespace {

void ok(ArrowErrorCode code) {
    if (code != NANOARROW_OK) throw std::runtime_error("nanoarrow failed to build the test table");
}

// The columns after id, prices and the threshold, named after their rules.
constexpr std::array<const char*, 5> count_columns = {"min_selections", "min_consecutive_periods",
                                                      "max_gap_between_periods", "max_gap_from_start", "running_for"};

struct Row {
    std::optional<std::vector<std::optional<std::string>>> prices;  // nullopt: a null list
    std::string threshold = "10";
    std::array<std::optional<std::int64_t>, 5> counts{1, 1, 0, 0, 0};  // as count_columns
    bool aggressive = true;
    std::optional<std::vector<std::int64_t>> times;  // seconds, in a table with times
};

// An output row; nullopt for a null.
struct Answer {
    std::int64_t id = 0;
    std::optional<std::vector<std::int64_t>> periods;
    std::optional<std::string> cost;
    std::optional<std::int64_t> count;
    std::optional<std::string> error;
    friend bool operator==(const Answer&, const Answer&) = default;
};

void PrintTo(const Answer& answer, std::ostream* out) {
    *out << "id " << answer.id << ", periods";
    for (const std::int64_t period : answer.periods.value_or(std::vector<std::int64_t>{-1})) *out << " " << period;
    *out << ", cost " << answer.cost.value_or("null") << ", count " << answer.count.value_or(-1) << ", error "
         << answer.error.value_or("null");
}

// Shows a text and a Decimal as repr does for these tests' values; every zone is an
// hour ahead of UTC, and only one name is known.
class TestFormatter final : public Formatter {
public:
    std::string text(std::string_view utf8) override { return "'" + std::string(utf8) + "'"; }
    std::string decimal(std::string_view text) override { return "Decimal('" + std::string(text) + "')"; }
    bool knows_zone(const std::string& zone) override { return zone == "Europe/Berlin"; }
    Nanoseconds offset_at(const std::string&, Nanoseconds) override { return Nanoseconds{3600} * 1'000'000'000; }
};

void set_field(ArrowSchema* field, ArrowType type, const char* name) {
    ok(ArrowSchemaSetType(field, type));
    ok(ArrowSchemaSetName(field, name));
}

// id, prices, the threshold, the counts, aggressive and, with a zone, times.
OwnedSchema table_schema(const std::string& zone) {
    OwnedSchema schema;
    ArrowSchemaInit(schema.get());
    ok(ArrowSchemaSetTypeStruct(schema.get(), zone.empty() ? 9 : 10));
    set_field(schema->children[0], NANOARROW_TYPE_INT64, "id");
    set_field(schema->children[1], NANOARROW_TYPE_LIST, "prices");
    ok(ArrowSchemaSetType(schema->children[1]->children[0], NANOARROW_TYPE_STRING));
    set_field(schema->children[2], NANOARROW_TYPE_STRING, "low_price_threshold");
    for (std::size_t c = 0; c < count_columns.size(); ++c) {
        set_field(schema->children[3 + c], NANOARROW_TYPE_INT64, count_columns[c]);
    }
    set_field(schema->children[8], NANOARROW_TYPE_BOOL, "aggressive");
    if (!zone.empty()) {
        set_field(schema->children[9], NANOARROW_TYPE_LIST, "times");
        ok(ArrowSchemaSetTypeDateTime(schema->children[9]->children[0], NANOARROW_TYPE_TIMESTAMP,
                                      NANOARROW_TIME_UNIT_SECOND, zone.c_str()));
    }
    return schema;
}

ColumnNames column_names(bool times) {
    ColumnNames names{"id", "prices", std::nullopt, std::nullopt, {}};
    if (times) names.times = "times";
    names.rules[static_cast<std::size_t>(Rule::low_price_threshold)] = "low_price_threshold";
    for (const char* column : count_columns) {
        for (std::size_t r = 0; r < rule_count; ++r) {
            if (std::string(rule_names[r]) == column) names.rules[r] = column;
        }
    }
    names.rules[static_cast<std::size_t>(Rule::aggressive)] = "aggressive";
    return names;
}

void append_row(ArrowArray& batch, const Row& row, std::int64_t id) {
    ArrowArray** column = batch.children;
    ok(ArrowArrayAppendInt(column[0], id));
    if (row.prices) {
        for (const std::optional<std::string>& price : *row.prices) {
            ok(price ? ArrowArrayAppendString(column[1]->children[0], ArrowCharView(price->c_str()))
                     : ArrowArrayAppendNull(column[1]->children[0], 1));
        }
        ok(ArrowArrayFinishElement(column[1]));
    } else {
        ok(ArrowArrayAppendNull(column[1], 1));
    }
    ok(ArrowArrayAppendString(column[2], ArrowCharView(row.threshold.c_str())));
    for (std::size_t c = 0; c < count_columns.size(); ++c) {
        ok(row.counts[c] ? ArrowArrayAppendInt(column[3 + c], *row.counts[c]) : ArrowArrayAppendNull(column[3 + c], 1));
    }
    ok(ArrowArrayAppendInt(column[8], row.aggressive ? 1 : 0));
    if (batch.n_children == 10 && row.times) {
        for (const std::int64_t time : *row.times) ok(ArrowArrayAppendInt(column[9]->children[0], time));
        ok(ArrowArrayFinishElement(column[9]));
    } else if (batch.n_children == 10) {
        ok(ArrowArrayAppendNull(column[9], 1));
    }
    ok(ArrowArrayFinishElement(&batch));
}

// The rows in batches of `batch_rows`, each row's id its index.
OwnedStream stream_of(std::span<const Row> rows, std::size_t batch_rows, const std::string& zone = "") {
    OwnedSchema schema = table_schema(zone);
    std::vector<OwnedArray> batches;
    for (std::size_t first = 0; first < rows.size(); first += batch_rows) {
        OwnedArray& batch = batches.emplace_back();
        ok(ArrowArrayInitFromSchema(batch.get(), schema.get(), nullptr));
        ok(ArrowArrayStartAppending(batch.get()));
        for (std::size_t r = first; r < std::min(rows.size(), first + batch_rows); ++r) {
            append_row(*batch.get(), rows[r], static_cast<std::int64_t>(r));
        }
        ok(ArrowArrayFinishBuildingDefault(batch.get(), nullptr));
    }
    OwnedStream stream;
    ok(ArrowBasicArrayStreamInit(stream.get(), schema.get(), static_cast<std::int64_t>(batches.size())));
    for (std::size_t b = 0; b < batches.size(); ++b) {
        ArrowBasicArrayStreamSetArray(stream.get(), static_cast<std::int64_t>(b), batches[b].get());
    }
    return stream;
}

void read_answers(const ArrowSchema& schema, const ArrowArray& batch, std::vector<Answer>& answers) {
    ArrayView whole;
    ok(ArrowArrayViewInitFromSchema(whole.get(), &schema, nullptr));
    ArrowError error{};
    if (ArrowArrayViewSetArray(whole.get(), &batch, &error) != NANOARROW_OK) throw std::runtime_error(error.message);
    ArrowArrayView* const* column = whole.get()->children;  // id, periods, cost, count, error
    const auto text = [](const ArrowArrayView* view, std::int64_t i) -> std::optional<std::string> {
        if (ArrowArrayViewIsNull(view, i)) return std::nullopt;
        const ArrowStringView value = ArrowArrayViewGetStringUnsafe(view, i);
        return std::string(value.data, static_cast<std::size_t>(value.size_bytes));
    };
    for (std::int64_t i = 0; i < batch.length; ++i) {
        Answer& answer = answers.emplace_back();
        answer.id = ArrowArrayViewGetIntUnsafe(column[0], i);
        if (!ArrowArrayViewIsNull(column[1], i)) {
            answer.periods.emplace();
            for (std::int64_t k = ArrowArrayViewListChildOffset(column[1], i);
                 k < ArrowArrayViewListChildOffset(column[1], i + 1); ++k) {
                answer.periods->push_back(ArrowArrayViewGetIntUnsafe(column[1]->children[0], k));
            }
        }
        answer.cost = text(column[2], i);
        if (!ArrowArrayViewIsNull(column[3], i)) answer.count = ArrowArrayViewGetIntUnsafe(column[3], i);
        answer.error = text(column[4], i);
    }
}

struct Planned {
    std::vector<Answer> answers;
    std::optional<TableError> error;  // what ended the call
};

// The four steps of every batch, as the binding takes them.
Planned plan_stream(OwnedStream stream, const ColumnNames& names, unsigned threads, const StopCheck& stop = {}) {
    TestFormatter formatter;
    TableOutcome<std::unique_ptr<TableRun>> opened =
        TableRun::open(std::move(stream), names, RuleScalars{}, threads, formatter);
    if (!opened.ok()) return {{}, opened.error()};
    TableRun& run = *opened.value();
    Planned planned;
    while (!run.ended()) {
        auto input = std::make_shared<OwnedArray>();
        const TableOutcome<bool> taken = run.take_batch(run.fetch_batch(*input), input);
        if (!taken.ok()) return {planned.answers, taken.error()};
        if (!taken.value()) break;
        const TableOutcome<std::monostate> done = run.plan_batch(stop);
        if (!done.ok()) return {planned.answers, done.error()};
        read_answers(run.schema(), *run.write_batch(input, formatter).get(), planned.answers);
    }
    return planned;
}

Planned plan_rows(std::span<const Row> rows, std::size_t batch_rows, unsigned threads = 1) {
    return plan_stream(stream_of(rows, batch_rows), column_names(false), threads);
}

// The planner's answer for the row, the cost summed as Decimals from 0; an error's
// message is left to the cases below.
Answer planner_answer(const Row& row) {
    std::vector<std::string_view> prices;
    for (const std::optional<std::string>& price : *row.prices) prices.push_back(*price);
    const auto count = [&](std::size_t c) { return static_cast<std::uint64_t>(*row.counts[c]); };
    rules::Conditions conditions;
    conditions.running_for = count(4);
    const Outcome<planner::PlanAnswer> planned = planner::plan_periods(
        prices, row.threshold, SelectionRules{count(0), count(1), count(2), count(3)}, conditions, row.aggressive);
    Answer answer;
    if (!planned.ok()) {
        answer.error = "refused";
        return answer;
    }
    answer.periods.emplace();
    Decimal sum;
    for (const std::size_t i : planned.value().periods) {
        answer.periods->push_back(static_cast<std::int64_t>(i));
        sum = checked_add(sum, *Decimal::parse(prices[i])).value();
    }
    answer.count = static_cast<std::int64_t>(answer.periods->size());
    answer.cost = sum.to_string();
    if (sum.is_zero() && answer.cost->starts_with('-')) answer.cost->erase(0, 1);
    return answer;
}

std::vector<Row> random_rows(std::size_t count, std::uint64_t seed) {
    std::vector<Row> rows(count);
    for (std::size_t r = 0; r < count; ++r) {
        testing::RequestRandom random(seed, r);
        // -50.00 to 150.00, whole or to the cent.
        const auto price = [&] {
            const auto cents = static_cast<std::int64_t>(random.between(0, 20000)) - 5000;
            const std::string whole = (cents < 0 ? "-" : "") + std::to_string(std::abs(cents) / 100);
            if (!random.chance(30)) return whole;
            const std::int64_t fraction = std::abs(cents) % 100;
            return whole + (fraction < 10 ? ".0" : ".") + std::to_string(fraction);
        };
        const std::uint64_t n = random.between(1, 30);
        rows[r].prices.emplace();
        for (std::uint64_t i = 0; i < n; ++i) rows[r].prices->push_back(price());
        rows[r].threshold = price();
        // Mostly rules that have a plan; now and then 0 or n + 1 periods, a run longer
        // than them, or a start gap above the gap, which are refused.
        const std::uint64_t selections = random.chance(90) ? random.between(1, n) : random.chance(50) ? 0 : n + 1;
        const std::uint64_t run =
            random.between(1, std::clamp<std::uint64_t>(selections, 1, 4)) + (random.chance(5) ? 3 : 0);
        const std::uint64_t gap = random.between(0, 6);
        const std::uint64_t start = random.between(0, gap + (random.chance(5) ? 2 : 0));
        const std::array<std::uint64_t, 5> counts = {selections, run, gap, start, random.between(0, 3)};
        for (std::size_t c = 0; c < counts.size(); ++c) rows[r].counts[c] = static_cast<std::int64_t>(counts[c]);
        rows[r].aggressive = random.chance(50);
    }
    return rows;
}

TEST(TableEngine, EveryRowIsThePlannersAnswer) {
    const std::vector<Row> rows = random_rows(3000, 35);
    const Planned planned = plan_rows(rows, 256);
    ASSERT_FALSE(planned.error) << planned.error->message;
    ASSERT_EQ(planned.answers.size(), rows.size());
    std::size_t refused = 0;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        Answer answer = planned.answers[r];
        if (answer.error) answer.error = "refused";
        refused += answer.error ? 1 : 0;
        Answer expected = planner_answer(rows[r]);
        expected.id = static_cast<std::int64_t>(r);
        ASSERT_EQ(answer, expected) << "row " << r;
    }
    // Both kinds of row occur.
    EXPECT_GT(refused, rows.size() / 20);
    EXPECT_LT(refused, rows.size() / 2);
}

TEST(TableEngine, SeveralThreadsAnswerAsOne) {
    const std::vector<Row> rows = random_rows(700, 36);
    const Planned one = plan_rows(rows, 300, 1);
    for (const unsigned threads : {2U, 5U}) {
        const Planned several = plan_rows(rows, 300, threads);
        ASSERT_FALSE(several.error);
        EXPECT_TRUE(several.answers == one.answers) << threads << " threads";
    }
}

// A batch's own offset and length select its rows of the columns.
TEST(TableEngine, ABatchReadsFromItsOffset) {
    const std::vector<Row> rows = random_rows(50, 37);
    OwnedStream stream = stream_of(rows, rows.size());
    ArrowArray batch;
    ASSERT_EQ(stream->get_next(stream.get(), &batch), 0);
    batch.offset = 7;
    batch.length = 30;
    OwnedStream sliced;
    ok(ArrowBasicArrayStreamInit(sliced.get(), table_schema("").get(), 1));
    ArrowBasicArrayStreamSetArray(sliced.get(), 0, &batch);
    Planned planned = plan_stream(std::move(sliced), column_names(false), 1);
    const std::vector<Answer> whole = plan_rows(rows, rows.size()).answers;
    ASSERT_EQ(planned.answers.size(), 30U);
    for (std::size_t r = 0; r < 30; ++r) EXPECT_EQ(planned.answers[r], whole[r + 7]) << "row " << r;
}

Row priced(std::initializer_list<std::optional<std::string>> items) {
    Row row;
    row.prices.emplace(items);
    return row;
}

struct RefusedRow {
    const char* name;
    Row row;
    std::string message;  // plan's, for the same values
};

TEST(TableEngine, RefusedRowsHavePlansMessages) {
    const auto counted = [](std::int64_t selections, std::int64_t run, std::int64_t gap, std::int64_t running) {
        Row row = priced({"1", "2", "3"});
        row.counts = {selections, run, gap, 0, running};
        return row;
    };
    Row null_count = counted(1, 1, 0, 0);
    null_count.counts[0] = std::nullopt;
    Row repeated_time = counted(1, 1, 0, 0);
    repeated_time.times = {1'704'067'200, 1'704'070'800, 1'704'070'800};
    const std::vector<RefusedRow> cases = {
        {"null list", Row{},
         "prices must be a sequence of prices (a list, tuple, numpy array or pandas Series), not NoneType"},
        {"null price", priced({"1", std::nullopt, "2"}),
         "prices[1]: None is a NoneType, not a price (a decimal text, int, Decimal or float)"},
        {"no number", priced({"abc", "1"}), "prices[0]: 'abc' is not a decimal number"},
        {"null count", null_count, "min_selections must be an int, not NoneType"},
        {"negative gap", counted(1, 1, -2, 0), "max_gap_between_periods cannot be negative (got -2)"},
        {"too many", counted(4, 1, 0, 0), "min_selections (4) cannot be greater than the number of prices (3)"},
        {"negative carried run", counted(1, 1, 0, -1), "running_for cannot be negative (got -1)"},
        {"run past the carried one", counted(1, 3, 0, 1),
         "min_consecutive_periods (3) cannot be greater than min_selections + running_for (1 + 1)"},
        {"repeated time", repeated_time,
         "times[2] (2024-01-01T02:00:00+01:00) is not after times[1] (2024-01-01T02:00:00+01:00): times must increase"},
    };
    std::vector<Row> rows;
    for (const RefusedRow& refused : cases) rows.push_back(refused.row);
    const Planned planned = plan_stream(stream_of(rows, 4, "Europe/Berlin"), column_names(true), 2);
    ASSERT_FALSE(planned.error) << planned.error->message;
    for (std::size_t c = 0; c < cases.size(); ++c) {
        const Answer& answer = planned.answers[c];
        EXPECT_EQ(answer.error.value_or("(planned)"), cases[c].message) << cases[c].name;
        EXPECT_FALSE(answer.periods || answer.cost || answer.count) << cases[c].name;
    }
}

// A stream whose get_next fails with `error` as its last error.
struct FailingStream {
    OwnedSchema schema = table_schema("");
    std::string error;

    static OwnedStream stream(std::string error) {
        OwnedStream stream;
        stream->private_data = new FailingStream{table_schema(""), std::move(error)};
        stream->get_schema = [](ArrowArrayStream* self, ArrowSchema* out) {
            return ArrowSchemaDeepCopy(of(self).schema.get(), out);
        };
        stream->get_next = [](ArrowArrayStream*, ArrowArray*) { return EIO; };
        stream->get_last_error = [](ArrowArrayStream* self) { return of(self).error.c_str(); };
        stream->release = [](ArrowArrayStream* self) {
            delete &of(self);
            self->release = nullptr;
        };
        return stream;
    }
    static FailingStream& of(ArrowArrayStream* stream) { return *static_cast<FailingStream*>(stream->private_data); }
};

struct RefusedCall {
    const char* name;
    std::function<OwnedStream()> stream;
    std::function<void(ColumnNames&)> names;
    TableErrorKind kind;
    std::string message;
};

TEST(TableEngine, RefusedCallsEndWithTheirErrors) {
    const std::vector<Row> rows = random_rows(3, 38);
    const auto table = [&] { return stream_of(rows, 2); };
    const auto keep = [](ColumnNames&) {};
    const auto rule = [](ColumnNames& names, Rule which, const char* column) {
        names.rules[static_cast<std::size_t>(which)] = column;
    };
    const std::vector<RefusedCall> cases = {
        {"missing column", table, [](ColumnNames& names) { names.prices = "price"; }, TableErrorKind::value,
         "prices: the data has no column 'price' (its columns: id, prices, low_price_threshold, min_selections, "
         "min_consecutive_periods, max_gap_between_periods, max_gap_from_start, running_for, aggressive)"},
        {"column of the wrong type", table,
         [&](ColumnNames& names) { rule(names, Rule::min_selections, "aggressive"); }, TableErrorKind::type,
         "min_selections: column 'aggressive' is bool; plan_table takes an integer type (int8 to int64, uint8 to "
         "uint32), or duration with times"},
        {"a name twice",
         [&] {
             OwnedStream stream = table();
             ArrowSchema schema;
             stream->get_schema(stream.get(), &schema);
             OwnedStream renamed;
             ok(ArrowSchemaSetName(schema.children[4], "min_selections"));
             ok(ArrowBasicArrayStreamInit(renamed.get(), &schema, 0));
             return renamed;
         },
         keep, TableErrorKind::value,
         "min_selections: the data has 2 columns named 'min_selections'; rename all but one, so that the name says "
         "which to read"},
        {"zone unknown", [&] { return stream_of(rows, 2, "Mars/Olympus"); },
         [](ColumnNames& names) { names.times = "times"; }, TableErrorKind::value,
         "times: column 'times' is in the time zone 'Mars/Olympus', which zoneinfo does not know; give a zone name of "
         "the tz database or an offset like +01:00"},
        {"producer failed", [] { return FailingStream::stream("disk on fire"); }, keep, TableErrorKind::value,
         "data: reading the Arrow stream failed: disk on fire"},
        {"producer interrupted",
         [] { return FailingStream::stream("Traceback (most recent call last):\n  ...\nKeyboardInterrupt\n"); }, keep,
         TableErrorKind::interrupted, ""},
    };
    for (const RefusedCall& refused : cases) {
        ColumnNames names = column_names(false);
        refused.names(names);
        const Planned planned = plan_stream(refused.stream(), names, 1);
        ASSERT_TRUE(planned.error) << refused.name;
        EXPECT_EQ(planned.error->kind, refused.kind) << refused.name;
        EXPECT_EQ(planned.error->message, refused.message) << refused.name;
    }
}

// Sets offset `at` of a list's or a text's int32 offsets one below the offset before it.
void step_back(ArrowArray& column, std::size_t at) {
    auto* offsets = static_cast<std::int32_t*>(const_cast<void*>(column.buffers[1]));
    offsets[at] = offsets[at - 1] - 1;
}

// A batch whose structures say other than its schema is refused before a row is read.
TEST(TableEngine, ABatchThatBreaksItsSchemaIsRefused) {
    const std::vector<Row> rows = random_rows(4, 39);
    const std::vector<std::pair<std::function<void(ArrowArray&)>, std::string>> cases = {
        {[](ArrowArray& batch) { batch.offset = -1; }, "the batch has a negative length or offset"},
        {[](ArrowArray& batch) { batch.length = 5; }, "column 'id' has 4 rows where the batch needs 5"},
        {[](ArrowArray& batch) { step_back(*batch.children[1], 2); }, "column 'prices': list offsets go back at row 1"},
        {[](ArrowArray& batch) { step_back(*batch.children[1]->children[0], 2); },
         "column 'prices': text offsets go back at item 1"},
    };
    for (const auto& [change, fault] : cases) {
        OwnedStream stream = stream_of(rows, rows.size());
        ArrowArray batch;
        ASSERT_EQ(stream->get_next(stream.get(), &batch), 0);
        change(batch);
        OwnedStream changed;
        ok(ArrowBasicArrayStreamInit(changed.get(), table_schema("").get(), 1));
        ArrowBasicArrayStreamSetArray(changed.get(), 0, &batch);
        const Planned planned = plan_stream(std::move(changed), column_names(false), 1);
        ASSERT_TRUE(planned.error) << fault;
        EXPECT_EQ(planned.error->message, "data: a batch of the Arrow stream does not match its schema: " + fault);
    }
}

TEST(TableEngine, TheStopCheckEndsTheBatch) {
    const std::vector<Row> rows = random_rows(200, 40);
    const StopCheck stop{[](void*) noexcept { return true; }, nullptr};
    for (const unsigned threads : {1U, 3U}) {
        const Planned planned = plan_stream(stream_of(rows, rows.size()), column_names(false), threads, stop);
        ASSERT_TRUE(planned.error) << threads << " threads";
        EXPECT_EQ(planned.error->kind, TableErrorKind::interrupted);
        EXPECT_TRUE(planned.answers.empty());
    }
}

}  // namespace
}  // namespace kestrava::table
