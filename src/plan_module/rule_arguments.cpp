// The conversions of rule_arguments.hpp.
#include "plan_module/rule_arguments.hpp"

#include <array>

#include "binding/forced_unwind.hpp"
#include "binding/numpy_bool.hpp"
#include "plan_module/price_objects.hpp"
#include "plan_module/python_types.hpp"
#include "plan_module/type_name.hpp"
#include "table/plan_messages.hpp"
#include "table/rule_names.hpp"

namespace kestrava::plan_module {

namespace messages = table::messages;

std::string Count::written() const {
    nb::object text = nb::steal(int_repr(integer.ptr()));
    if (!text.is_valid()) throw nb::python_error();
    return std::string(text_of(text));
}

bool exactly_below(const Count& low, const Count& high) {
    const int below = PyObject_RichCompareBool(low.integer.ptr(), high.integer.ptr(), Py_LT);
    if (below < 0) throw nb::python_error();
    return below == 1;
}

namespace {

constexpr std::uint64_t first_large_count = std::uint64_t{1} << 63;

}  // namespace

Count read_count(nb::handle value, const char* name, bool* negative) {
    PyObject* object = value.ptr();
    if (PyBool_Check(object) || is_numpy_bool_type(Py_TYPE(object)) || !PyIndex_Check(object)) {
        throw nb::type_error(messages::count_not_an_int(name, type_name(Py_TYPE(object))).c_str());
    }
    Count count{nb::steal(parked_on_forced_unwind([object] { return PyNumber_Index(object); }))};
    if (!count.integer.is_valid()) throw nb::python_error();
    int overflow = 0;
    const long long small = PyLong_AsLongLongAndOverflow(count.integer.ptr(), &overflow);
    if (overflow == 0 && small == -1 && PyErr_Occurred()) throw nb::python_error();
    if (overflow > 0) {
        count.large = true;
        return count;
    }
    if (overflow < 0 || small < 0) {
        if (negative == nullptr) throw nb::value_error(messages::count_negative(name, count.written()).c_str());
        *negative = true;
        return count;
    }
    count.value = static_cast<std::uint64_t>(small);
    return count;
}

namespace {

void rank_large_counts(RuleArguments& arguments) {
    const std::array<Count*, 4> counts = {&arguments.min_selections, &arguments.min_consecutive_periods,
                                          &arguments.max_gap_between_periods, &arguments.max_gap_from_start};
    for (Count* count : counts) {
        if (!count->large) continue;
        count->value = first_large_count;
        for (const Count* other : counts) count->value += other->large && exactly_below(*other, *count) ? 1 : 0;
    }
}

}  // namespace

RuleArguments read_rule_arguments(nb::handle min_selections, nb::handle min_consecutive_periods,
                                  nb::handle max_gap_between_periods, nb::handle max_gap_from_start) {
    RuleArguments arguments;
    arguments.min_selections = read_count(min_selections, table::rule_name(table::Rule::min_selections));
    arguments.min_consecutive_periods = read_count(min_consecutive_periods, table::rule_name(table::Rule::min_consecutive_periods));
    arguments.max_gap_between_periods = read_count(max_gap_between_periods, table::rule_name(table::Rule::max_gap_between_periods));
    arguments.max_gap_from_start = read_count(max_gap_from_start, table::rule_name(table::Rule::max_gap_from_start));
    rank_large_counts(arguments);
    return arguments;
}

bool read_flag(nb::handle value, std::string_view name) {
    PyObject* object = value.ptr();
    if (!PyBool_Check(object) && !is_numpy_bool_type(Py_TYPE(object))) {
        throw nb::type_error(messages::flag_not_a_bool(name, type_name(Py_TYPE(object))).c_str());
    }
    // __bool__ may be Python code: see binding/forced_unwind.hpp.
    const int truth = parked_on_forced_unwind([object] { return PyObject_IsTrue(object); });
    if (truth < 0) throw nb::python_error();
    return truth == 1;
}

}  // namespace kestrava::plan_module
