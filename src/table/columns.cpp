// The schema checks of columns.hpp.
#include "table/columns.hpp"

#include <cstring>
#include <string_view>
#include <utility>

#include "table/plan_messages.hpp"

namespace kestrava::table {

namespace {

TableError value_error(std::string message) { return {TableErrorKind::value, std::move(message)}; }

constexpr std::string_view price_types =
    "string, large_string, string_view, decimal128, decimal256, an integer type or double";

std::string accepted(Rule rule) {
    switch (rule) {
        case Rule::low_price_threshold:
            return std::string("a price: ") + std::string(price_types);
        case Rule::aggressive:
        case Rule::most_expensive:
        case Rule::allow_short_last_run:
            return "bool";
        case Rule::allowed:
            return "a list (list, large_list or list_view) of bool";
        default:
            return "an integer type (int8 to int64, uint8 to uint32), or duration with times";
    }
}

bool is_count_type(ArrowType type) noexcept {
    return is_signed_integer(type) || type == NANOARROW_TYPE_UINT8 || type == NANOARROW_TYPE_UINT16 ||
           type == NANOARROW_TYPE_UINT32;
}

// "double", or "list<double>" for a list.
std::string type_name(ArrowType type) {
    const char* name = ArrowTypeString(type);
    return name != nullptr && type != NANOARROW_TYPE_UNINITIALIZED ? name : "a type nanoarrow does not read";
}

std::string type_name(const Column& column) {
    std::string name = type_name(column.logical);
    if (is_list_type(column.type)) name += "<" + type_name(column.item_logical) + ">";
    return name;
}

// A value stored as it is meant: an int64 that is no timestamp, duration or date.
bool plain(ArrowType storage, ArrowType logical) noexcept { return storage == logical; }

void read_type(const ArrowSchemaView& view, Column& column, bool item) {
    (item ? column.item_type : column.type) = view.storage_type;
    (item ? column.item_logical : column.logical) = view.type;
    column.scale = view.decimal_scale;
    if (view.type == NANOARROW_TYPE_DURATION || view.type == NANOARROW_TYPE_TIMESTAMP) column.time_unit = view.time_unit;
    if (view.type == NANOARROW_TYPE_TIMESTAMP) column.time_zone = view.timezone != nullptr ? view.timezone : "";
}

std::string column_list(const ArrowSchema& schema) {
    std::string names;
    for (std::int64_t i = 0; i < schema.n_children; ++i) {
        if (i > 0) names += ", ";
        names += schema.children[i]->name != nullptr ? schema.children[i]->name : "";
    }
    return names;
}

bool named(const ArrowSchema& field, const std::string& name) noexcept {
    return field.name != nullptr && name == field.name;
}

// The index of the one column named `name`: a name that two columns share says nothing
// of which one is meant.
TableOutcome<std::int64_t> index_named(const ArrowSchema& schema, std::string_view role, const std::string& name) {
    std::int64_t found = -1;
    std::int64_t count = 0;
    for (std::int64_t i = 0; i < schema.n_children; ++i) {
        if (!named(*schema.children[i], name)) continue;
        if (found < 0) found = i;
        ++count;
    }
    if (found < 0) return value_error(messages::column_missing(role, name, column_list(schema)));
    if (count > 1) return value_error(messages::column_ambiguous(role, name, count));
    return found;
}

// The column's index, storage type and scale, and its list items'.
TableOutcome<Column> column_named(const ArrowSchema& schema, std::string_view role, const std::string& name) {
    const TableOutcome<std::int64_t> index = index_named(schema, role, name);
    if (!index.ok()) return index.error();
    const ArrowSchema* child = schema.children[index.value()];
    Column column;
    column.index = index.value();
    ArrowSchemaView view;
    if (ArrowSchemaViewInit(&view, child, nullptr) != NANOARROW_OK) return column;
    read_type(view, column, false);
    if (is_list_type(column.type) && child->n_children == 1 &&
        ArrowSchemaViewInit(&view, child->children[0], nullptr) == NANOARROW_OK) {
        read_type(view, column, true);
    }
    return column;
}

bool fits(Rule rule, const Column& column) {
    switch (rule) {
        case Rule::low_price_threshold:
            return is_price_type(column.type) && plain(column.type, column.logical);
        case Rule::aggressive:
        case Rule::most_expensive:
        case Rule::allow_short_last_run:
            return column.type == NANOARROW_TYPE_BOOL;
        case Rule::allowed:
            return is_list_type(column.type) && column.item_type == NANOARROW_TYPE_BOOL;
        default:
            return (is_count_type(column.type) && plain(column.type, column.logical)) || column.is_duration();
    }
}

TableError type_refusal(std::string_view role, const std::string& name, const Column& column, std::string_view what) {
    return {TableErrorKind::type, messages::column_type(role, name, type_name(column), what)};
}

TableOutcome<Column> prices_column(const ArrowSchema& schema, const std::string& name) {
    TableOutcome<Column> prices = column_named(schema, "prices", name);
    if (!prices.ok()) return prices;
    const Column& column = prices.value();
    if (!is_list_type(column.type) || !is_price_type(column.item_type) ||
        !plain(column.item_type, column.item_logical)) {
        return type_refusal("prices", name, column,
                            "a list (list, large_list or list_view) of prices: " + std::string(price_types));
    }
    return prices;
}

// The column of rule `r`, named `name`, when the call has times or not.
TableOutcome<Column> rule_column(const ArrowSchema& schema, std::size_t r, const std::string& name, bool times) {
    TableOutcome<Column> read = column_named(schema, rule_names[r], name);
    if (!read.ok()) return read;
    const auto rule = static_cast<Rule>(r);
    if (!fits(rule, read.value())) return type_refusal(rule_names[r], name, read.value(), accepted(rule));
    if (read.value().is_duration() && !times) {
        return TableError{TableErrorKind::type, messages::duration_column_without_times(rule_names[r], name)};
    }
    return read;
}

TableOutcome<Column> times_column(const ArrowSchema& schema, const std::string& name) {
    TableOutcome<Column> times = column_named(schema, "times", name);
    if (!times.ok()) return times;
    const Column& column = times.value();
    if (!is_list_type(column.type) || column.item_logical != NANOARROW_TYPE_TIMESTAMP) {
        return type_refusal("times", name, column,
                            "a list (list, large_list or list_view) of timestamp with a time zone");
    }
    if (column.time_zone.empty()) return value_error(messages::times_naive(name, type_name(column)));
    return times;
}

TableOutcome<Column> days_column(const ArrowSchema& schema, const std::string& name) {
    TableOutcome<Column> days = column_named(schema, "days", name);
    if (!days.ok()) return days;
    if (!is_list_type(days.value().type) || days.value().item_logical != NANOARROW_TYPE_DATE32) {
        return type_refusal("days", name, days.value(), "a list (list, large_list or list_view) of date32");
    }
    return days;
}

// Deeper than any type a table holds; a hostile schema may nest without end.
constexpr int deepest_schema = 64;

// Whether every structure of the schema that the call walks is there: a format, and as
// many children as it counts.
bool whole(const ArrowSchema& schema, int depth) noexcept {
    if (depth > deepest_schema || schema.format == nullptr || schema.n_children < 0) return false;
    if (schema.n_children > 0 && schema.children == nullptr) return false;
    for (std::int64_t i = 0; i < schema.n_children; ++i) {
        if (schema.children[i] == nullptr || !whole(*schema.children[i], depth + 1)) return false;
    }
    return schema.dictionary == nullptr || whole(*schema.dictionary, depth + 1);
}

}  // namespace

bool is_price_type(ArrowType type) noexcept {
    switch (type) {
        case NANOARROW_TYPE_STRING:
        case NANOARROW_TYPE_LARGE_STRING:
        case NANOARROW_TYPE_STRING_VIEW:
        case NANOARROW_TYPE_DECIMAL128:
        case NANOARROW_TYPE_DECIMAL256:
        case NANOARROW_TYPE_UINT64:
        case NANOARROW_TYPE_DOUBLE:
            return true;
        default:
            return is_count_type(type);
    }
}

bool is_list_type(ArrowType type) noexcept {
    return type == NANOARROW_TYPE_LIST || type == NANOARROW_TYPE_LARGE_LIST || type == NANOARROW_TYPE_LIST_VIEW ||
           type == NANOARROW_TYPE_LARGE_LIST_VIEW;
}

bool is_signed_integer(ArrowType type) noexcept {
    return type == NANOARROW_TYPE_INT8 || type == NANOARROW_TYPE_INT16 || type == NANOARROW_TYPE_INT32 ||
           type == NANOARROW_TYPE_INT64;
}

TableOutcome<TableLayout> read_layout(const ArrowSchema& schema, const ColumnNames& names) {
    if (schema.release == nullptr || !whole(schema, 0)) return value_error(std::string(messages::schema_broken));
    if (std::strcmp(schema.format, "+s") != 0) {
        return TableError{TableErrorKind::type, messages::not_a_table_stream(schema.format)};
    }
    // Read in the order of the parameters, so that the first wrong one is named.
    TableLayout layout;
    if (names.id) {
        const TableOutcome<Column> id = column_named(schema, "id", *names.id);
        if (!id.ok()) return id.error();
        layout.id = id.value();
    }
    const TableOutcome<Column> prices = prices_column(schema, names.prices);
    if (!prices.ok()) return prices.error();
    layout.prices = prices.value();
    for (std::size_t r = 0; r < rule_count; ++r) {
        if (!names.rules[r]) continue;
        const TableOutcome<Column> rule = rule_column(schema, r, *names.rules[r], names.times.has_value());
        if (!rule.ok()) return rule.error();
        layout.rules[r] = rule.value();
    }
    if (names.times) {
        const TableOutcome<Column> times = times_column(schema, *names.times);
        if (!times.ok()) return times.error();
        layout.times = times.value();
    }
    if (names.days) {
        const TableOutcome<Column> days = days_column(schema, *names.days);
        if (!days.ok()) return days.error();
        layout.days = days.value();
    }
    return layout;
}

}  // namespace kestrava::table
