// The conditions of _plan: reading them and their core form.
#include "plan_module/plan_conditions.hpp"

#include <algorithm>

#include "binding/forced_unwind.hpp"
#include "binding/numpy_bool.hpp"
#include "plan_module/python_call.hpp"
#include "plan_module/type_name.hpp"
#include "table/plan_messages.hpp"
#include "table/rule_names.hpp"

namespace kestrava::plan_module {

namespace messages = table::messages;

namespace {

bool read_allowed_item(PyObject* item, std::size_t index) {
    if (!PyBool_Check(item) && !is_numpy_bool_type(Py_TYPE(item))) {
        throw nb::type_error(messages::allowed_item_not_a_bool(index, type_name(Py_TYPE(item))).c_str());
    }
    // numpy's __bool__ may run Python code: see binding/forced_unwind.hpp.
    const int truth = parked_on_forced_unwind([item] { return PyObject_IsTrue(item); });
    if (truth < 0) throw nb::python_error();
    return truth == 1;
}

std::vector<std::uint8_t> read_allowed(nb::handle allowed) {
    PyObject* object = allowed.ptr();
    if (PyUnicode_Check(object) || PyBytes_Check(object) || PyDict_Check(object) || !PySequence_Check(object)) {
        throw nb::type_error(messages::allowed_not_a_sequence(type_name(Py_TYPE(object))).c_str());
    }
    // A list or tuple of its own, whatever the caller's container does meanwhile.
    const nb::object items =
        python_call([object] { return PySequence_Fast(object, "allowed must be a sequence of bools"); });
    // A list or a tuple, so its size and items run no Python code.
    const bool list = PyList_Check(items.ptr());
    const Py_ssize_t count = list ? PyList_Size(items.ptr()) : PyTuple_Size(items.ptr());
    std::vector<std::uint8_t> flags(static_cast<std::size_t>(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
        const auto at = static_cast<std::size_t>(i);
        PyObject* item = list ? PyList_GetItem(items.ptr(), i) : PyTuple_GetItem(items.ptr(), i);
        flags[at] = read_allowed_item(item, at) ? 1 : 0;
    }
    return flags;
}

// high - low as exact ints, at most `cap`. Precondition: low <= high.
std::uint64_t difference_up_to(const Count& high, const Count& low, std::uint64_t cap) {
    const nb::object difference = checked(PyNumber_Subtract(high.integer.ptr(), low.integer.ptr()));
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(difference.ptr(), &overflow);
    if (overflow == 0 && value == -1 && PyErr_Occurred()) throw nb::python_error();
    return overflow > 0 ? cap : std::min(static_cast<std::uint64_t>(value), cap);
}

// The items of a list that plan built; anything else is refused.
std::vector<PyObject*> list_items(nb::handle values) {
    if (!PyList_Check(values.ptr())) throw nb::type_error(std::string(messages::day_quota_mismatch).c_str());
    std::vector<PyObject*> items(static_cast<std::size_t>(PyList_Size(values.ptr())));
    for (std::size_t i = 0; i < items.size(); ++i) items[i] = PyList_GetItem(values.ptr(), static_cast<Py_ssize_t>(i));
    return items;
}

std::vector<std::uint32_t> read_small_ints(nb::handle values) {
    std::vector<std::uint32_t> read;
    for (PyObject* value : list_items(values)) {
        const unsigned long number = PyLong_Check(value) ? PyLong_AsUnsignedLong(value) : 0;
        if (!PyLong_Check(value) || number > UINT32_MAX) {
            PyErr_Clear();
            throw nb::value_error(std::string(messages::day_quota_mismatch).c_str());
        }
        if (number == static_cast<unsigned long>(-1) && PyErr_Occurred()) throw nb::python_error();
        read.push_back(static_cast<std::uint32_t>(number));
    }
    return read;
}

std::vector<std::string> read_texts(nb::handle values) {
    std::vector<std::string> read;
    for (PyObject* value : list_items(values)) {
        Py_ssize_t size = 0;
        const char* text = PyUnicode_Check(value) ? PyUnicode_AsUTF8AndSize(value, &size) : nullptr;
        if (text == nullptr) {
            PyErr_Clear();
            throw nb::type_error(std::string(messages::day_quota_mismatch).c_str());
        }
        read.emplace_back(text, static_cast<std::size_t>(size));
    }
    return read;
}

// Days from 0, each period's the one before it or the next, one quota and name each.
bool days_fit(const PlanConditions& conditions, std::size_t n) noexcept {
    const std::vector<std::uint32_t>& days = conditions.day_of;
    if (days.size() != n || n == 0 || days[0] != 0) return false;
    for (std::size_t p = 1; p < n; ++p) {
        if (days[p] != days[p - 1] && days[p] != days[p - 1] + 1) return false;
    }
    const std::size_t count = std::size_t{days.back()} + 1;
    return conditions.day_quota.size() == count && conditions.day_names.size() == count;
}

void read_days(PlanConditions& conditions, const PlanDays& days, std::size_t n) {
    if (days.day_of.is_none()) return;
    conditions.day_of = read_small_ints(days.day_of);
    conditions.day_quota = read_small_ints(days.day_quota);
    conditions.day_names = read_texts(days.day_names);
    if (!days_fit(conditions, n)) throw nb::value_error(std::string(messages::day_quota_mismatch).c_str());
}

}  // namespace

PlanConditions read_plan_conditions(nb::handle allowed, nb::handle running_for, nb::handle off_for,
                                    nb::handle strict_end, const PlanDays& days, std::size_t n) {
    PlanConditions conditions;
    if (!allowed.is_none()) {
        conditions.restricted = true;
        conditions.allowed = read_allowed(allowed);
    }
    conditions.running_for = read_count(running_for, table::rule_name(table::Rule::running_for), &conditions.running_for_negative);
    conditions.off_for = read_count(off_for, table::rule_name(table::Rule::off_for), &conditions.off_for_negative);
    // plan passes the negation of allow_short_last_run, already read as a bool.
    conditions.strict_end = read_flag(strict_end, table::rule_name(table::Rule::allow_short_last_run));
    read_days(conditions, days, n);
    return conditions;
}

// The planner compares running_for with min_consecutive_periods (which it, and
// what is left of a run, may exceed by any amount) and subtracts off_for from
// max_gap_between_periods (where only up to n periods matter). For counts below 2^63
// these are the values, and 0 stays 0; otherwise the value that keeps the comparison
// and the difference, capped beyond what any horizon of max_periods can tell apart.
rules::Conditions PlanConditions::conditions(const RuleArguments& rules, std::size_t n) const {
    rules::Conditions core;
    if (restricted) core.allowed = std::span<const std::uint8_t>(allowed);
    core.running_for_negative = running_for_negative;
    core.off_for_negative = off_for_negative;
    core.strict_end = strict_end;
    core.day_of = day_of;
    core.day_quota = day_quota;
    const std::uint64_t cap = n + 2;
    const Count& run = rules.min_consecutive_periods;
    core.running_for = running_for.value;
    if (!running_for_negative && (running_for.large || (run.large && running_for.value != 0))) {
        core.running_for = !exactly_below(running_for, run) ? run.value : run.value - difference_up_to(run, running_for, cap);
    }
    const Count& gap = rules.max_gap_between_periods;
    core.off_for = off_for.value;
    if (!off_for_negative && (off_for.large || (gap.large && off_for.value != 0))) {
        core.off_for = exactly_below(gap, off_for) ? gap.value + 1 : gap.value - difference_up_to(gap, off_for, cap);
    }
    return core;
}

}  // namespace kestrava::plan_module
