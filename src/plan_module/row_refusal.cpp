// The messages of row_refusal.hpp.
#include "plan_module/row_refusal.hpp"

#include <cstring>

#include "plan_module/plan_conditions.hpp"
#include "plan_module/price_objects.hpp"
#include "plan_module/python_call.hpp"
#include "plan_module/python_types.hpp"
#include "plan_module/refusal_message.hpp"
#include "plan_module/rule_arguments.hpp"
#include "table/arrow_values.hpp"
#include "table/float_text.hpp"

namespace kestrava::plan_module {

using table::CountRule;
using table::RowRequest;
using table::float_repr;
using table::list_items;

namespace {

nb::object python_int(std::int64_t value) { return checked(PyLong_FromLongLong(value)); }

nb::object python_text(std::string_view text) {
    return checked(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
}

// Price j of the row as `plan` gets it from the column, shown as plan shows it.
std::string shown_price(const TableBatch& batch, std::int64_t row, const RowRequest& request, std::size_t j) {
    const ArrowArrayView& list = *batch.column(batch.layout().prices);
    const ArrowArrayView& values = *list.children[0];
    const std::string_view text = request.prices[j];
    switch (values.storage_type) {
        case NANOARROW_TYPE_STRING:
        case NANOARROW_TYPE_LARGE_STRING:
        case NANOARROW_TYPE_STRING_VIEW:
            return shown(python_text(text));
        case NANOARROW_TYPE_DECIMAL128:
        case NANOARROW_TYPE_DECIMAL256:
            return shown(new_decimal(text));
        case NANOARROW_TYPE_DOUBLE: {
            const std::int64_t at = list_items(list, batch.offset() + row).start + static_cast<std::int64_t>(j);
            std::uint64_t bits = 0;
            std::memcpy(&bits, values.buffer_views[1].data.as_uint8 + 8 * (values.offset + at), sizeof bits);
            return float_repr(bits);
        }
        default:
            return std::string(text);
    }
}

}  // namespace

std::string row_refusal(const TableBatch& batch, std::int64_t row, const Error& error) {
    RowRequest request;
    batch.read_times(row, request);
    batch.read_row(row, request);
    const auto count = [&](CountRule rule) { return python_int(request.count(rule)); };
    const RuleArguments counts = read_rule_arguments(
        count(CountRule::min_selections), count(CountRule::min_consecutive_periods),
        count(CountRule::max_gap_between_periods), count(CountRule::max_gap_from_start));
    const PlanConditions conditions =
        read_plan_conditions(nb::none(), count(CountRule::running_for), count(CountRule::off_for));
    const auto shown_one = [&](std::optional<std::size_t> index) {
        return index ? shown_price(batch, row, request, *index) : shown(python_text(request.threshold));
    };
    return refusal_message(error, counts, &conditions, request.prices.size(), shown_one);
}

}  // namespace kestrava::plan_module
