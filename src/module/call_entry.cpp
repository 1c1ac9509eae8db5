// One call of get_cheapest_periods: bind, convert in parameter order, select, and turn
// the result into a list of ints or the selection's error into an exception.
#include "module/call_entry.hpp"

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <variant>

#include "binding/index_list.hpp"
#include "binding/signal_stop_check.hpp"
#include "module/argument_binding.hpp"
#include "module/call_boundary.hpp"
#include "module/conversions.hpp"
#include "module/function_description.hpp"
#include "module/list_price_source.hpp"
#include "module/messages.hpp"
#include "module/take_over_exception.hpp"
#include "selection/internal_failure.hpp"
#include "selection/requests/request.hpp"

namespace kestrava::module {

namespace {

using Slots = std::array<PyObject*, get_cheapest_periods_slot_count>;

PythonError tied_to_argument(std::size_t slot, PythonError error) {
    return argument_extraction_error(get_cheapest_periods_parameters[slot].name, std::move(error));
}

// The default of an omitted argument, as the parameter table gives it. Only optional
// parameters can be omitted once the binding has succeeded.
template <class Value>
Value default_of(std::size_t slot) {
    const Value* value = std::get_if<Value>(&get_cheapest_periods_parameters[slot].default_value);
    if (value == nullptr) {
        throw InternalFailure(std::string(messages::omitted_without_default));
    }
    return *value;
}

// A count argument by the unsigned rule, or its default when it was not given.
PyOutcome<std::uint64_t> count_argument(const Slots& slots, std::size_t slot) {
    if (slots[slot] == nullptr) {
        return default_of<std::uint64_t>(slot);
    }
    PyOutcome<std::uint64_t> count = extract_unsigned(slots[slot]);
    if (!count.ok()) {
        return tied_to_argument(slot, count.take_error());
    }
    return count;
}

PyOutcome<OwnedRef> call_get_cheapest_periods(PyObject* const* arguments, Py_ssize_t positional_count,
                                            PyObject* keyword_names) {
    Slots slots{};
    if (Status failure = extract_arguments_fastcall(get_cheapest_periods_description, arguments, positional_count,
                                                    keyword_names, slots)) {
        return std::move(*failure);
    }

    // Converted in parameter order; the first failure ends the call before later
    // arguments (and their __index__) are looked at.
    PyOutcome<PyObject*> prices = check_list(slots[prices_slot]);
    if (!prices.ok()) {
        return tied_to_argument(prices_slot, prices.take_error());
    }
    PyOutcome<std::string_view> threshold = extract_text(slots[low_price_threshold_slot]);
    if (!threshold.ok()) {
        return tied_to_argument(low_price_threshold_slot, threshold.take_error());
    }
    SelectionRules rules;
    std::uint64_t* const counts[] = {&rules.min_selections, &rules.min_consecutive_periods,
                                     &rules.max_gap_between_periods, &rules.max_gap_from_start};
    for (std::size_t i = 0; i < std::size(counts); ++i) {
        PyOutcome<std::uint64_t> count = count_argument(slots, min_selections_slot + i);
        if (!count.ok()) {
            return count.take_error();
        }
        *counts[i] = count.value();
    }
    bool aggressive = default_of<bool>(aggressive_slot);
    if (slots[aggressive_slot] != nullptr) {
        PyOutcome<bool> flag = extract_flag(slots[aggressive_slot]);
        if (!flag.ok()) {
            return tied_to_argument(aggressive_slot, flag.take_error());
        }
        aggressive = flag.value();
    }

    ListPriceTextSource price_texts(prices.value());
    SignalStopCheck stop;
    Outcome<IndexList> selected = get_cheapest_periods(price_texts, threshold.value(), rules, aggressive, stop.check());
    // A signal handler's exception wins over any answer: Ctrl-C is never lost.
    if (stop.restore_raised() || (!selected.ok() && selected.error().kind == ErrorKind::interrupted)) {
        return take_over_current_exception();
    }
    if (!selected.ok()) {
        const Error& error = selected.error();
        if (error.kind == ErrorKind::price_not_text) {
            return price_texts.take_error();
        }
        return PythonError::deferred(PyExc_ValueError, messages::selection_error_message(error));
    }
    OwnedRef list = OwnedRef::steal(new_index_list(selected.value()));
    if (!list) {
        fail_python_api_call();
    }
    return list;
}

}  // namespace

PyObject* get_cheapest_periods_entry(PyObject* /*self*/, PyObject* const* arguments, Py_ssize_t positional_count,
                                     PyObject* keyword_names) noexcept {
    return run_in_call_boundary([&] { return call_get_cheapest_periods(arguments, positional_count, keyword_names); });
}

}  // namespace kestrava::module
