// The schema checks of table_columns.hpp.
#include "plan_module/table_columns.hpp"

#include <cstring>
#include <string_view>

#include <nanobind/nanobind.h>

#include "plan_module/plan_messages.hpp"

namespace kestrava::plan_module {

namespace nb = nanobind;

namespace {

constexpr std::string_view price_types =
    "string, large_string, string_view, decimal128, decimal256, an integer type or double";

std::string accepted(Rule rule) {
    switch (rule) {
        case Rule::low_price_threshold:
            return std::string("a price: ") + std::string(price_types);
        case Rule::aggressive:
            return "bool";
        case Rule::allowed:
            return "a list (list, large_list or list_view) of bool";
        default:
            return "an integer type (int8 to int64, uint8 to uint32)";
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
    std::string name = type_name(column.type);
    if (is_list_type(column.type)) name += "<" + type_name(column.item_type) + ">";
    return name;
}

std::string column_list(const ArrowSchema& schema) {
    std::string names;
    for (std::int64_t i = 0; i < schema.n_children; ++i) {
        if (i > 0) names += ", ";
        names += schema.children[i]->name != nullptr ? schema.children[i]->name : "";
    }
    return names;
}

// The column's index, storage type and scale, and its list items'.
Column column_named(const ArrowSchema& schema, std::string_view role, const std::string& name) {
    for (std::int64_t i = 0; i < schema.n_children; ++i) {
        const ArrowSchema* child = schema.children[i];
        if (child->name == nullptr || name != child->name) continue;
        Column column{i};
        ArrowSchemaView view;
        if (ArrowSchemaViewInit(&view, child, nullptr) != NANOARROW_OK) return column;
        column.type = view.storage_type;
        column.scale = view.decimal_scale;
        if (is_list_type(column.type) && child->n_children == 1 &&
            ArrowSchemaViewInit(&view, child->children[0], nullptr) == NANOARROW_OK) {
            column.item_type = view.storage_type;
            column.scale = view.decimal_scale;
        }
        return column;
    }
    throw nb::value_error(messages::column_missing(role, name, column_list(schema)).c_str());
}

bool fits(Rule rule, const Column& column) {
    switch (rule) {
        case Rule::low_price_threshold:
            return is_price_type(column.type);
        case Rule::aggressive:
            return column.type == NANOARROW_TYPE_BOOL;
        case Rule::allowed:
            return is_list_type(column.type) && column.item_type == NANOARROW_TYPE_BOOL;
        default:
            return is_count_type(column.type);
    }
}

[[noreturn]] void refuse_type(std::string_view role, const std::string& name, const Column& column,
                              std::string_view what) {
    throw nb::type_error(messages::column_type(role, name, type_name(column), what).c_str());
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

TableLayout read_layout(const ArrowSchema& schema, const ColumnNames& names) {
    if (std::strcmp(schema.format, "+s") != 0) throw nb::type_error(messages::not_a_table_stream(schema.format).c_str());
    TableLayout layout;
    if (names.id) layout.id = column_named(schema, "id", *names.id);
    layout.prices = column_named(schema, "prices", names.prices);
    if (!is_list_type(layout.prices.type) || !is_price_type(layout.prices.item_type)) {
        refuse_type("prices", names.prices, layout.prices,
                    std::string("a list (list, large_list or list_view) of prices: ") + std::string(price_types));
    }
    for (std::size_t r = 0; r < rule_count; ++r) {
        if (!names.rules[r]) continue;
        const auto rule = static_cast<Rule>(r);
        layout.rules[r] = column_named(schema, rule_names[r], *names.rules[r]);
        if (!fits(rule, layout.rules[r])) refuse_type(rule_names[r], *names.rules[r], layout.rules[r], accepted(rule));
    }
    return layout;
}

}  // namespace kestrava::plan_module
