// The definition of argument_binding.hpp.
#include "plan_module/argument_binding.hpp"

#include <string>

#include "plan_module/plan_messages.hpp"
#include "plan_module/python_call.hpp"

namespace kestrava::plan_module {

namespace {

// The parameters, their order and defaults live here and in the stub alone.
constexpr const char* definition =
    "def cheapest_periods(prices, low_price_threshold, min_selections, min_consecutive_periods,\n"
    "                     max_gap_between_periods=0, max_gap_from_start=0, aggressive=True):\n"
    "    return _entry(prices, low_price_threshold, min_selections, min_consecutive_periods,\n"
    "                  max_gap_between_periods, max_gap_from_start, aggressive)\n";

// _plan takes its ten arguments by position only, as kestrava_plan.plan passes them.
constexpr const char* plan_definition =
    "def _plan(prices, low_price_threshold, min_selections, min_consecutive_periods,\n"
    "          max_gap_between_periods, max_gap_from_start, aggressive, allowed, running_for, off_for, /):\n"
    "    return _entry(prices, low_price_threshold, min_selections, min_consecutive_periods,\n"
    "                  max_gap_between_periods, max_gap_from_start, aggressive, allowed, running_for, off_for)\n";

// _plan_table, the core of kestrava_plan.plan_table, likewise by position.
constexpr const char* plan_table_definition =
    "def _plan_table(stream, id, prices, times, rule_columns, rule_scalars, rule_durations, threads, /):\n"
    "    return _entry(stream, id, prices, times, rule_columns, rule_scalars, rule_durations, threads)\n";

// Runs `source`, which defines `name` over module.<entry_name>, and sets it on the module.
void define_function(nb::module_& module, const char* source, const char* name, const char* entry_name,
                     const std::string& doc) {
    // The function's globals: its module name (for __module__ and tracebacks) and the entry.
    nb::dict scope;
    scope["__name__"] = module.attr("__name__");
    scope["__builtins__"] = nb::borrow(PyEval_GetBuiltins());
    scope["_entry"] = module.attr(entry_name);
    nb::object code = checked(Py_CompileString(source, "<kestrava_plan._planner>", Py_file_input));
    checked(PyEval_EvalCode(code.ptr(), scope.ptr(), scope.ptr()));
    nb::object function = scope[name];
    function.attr("__doc__") = nb::str(doc.c_str(), doc.size());
    module.attr(name) = function;
}

}  // namespace

void define_cheapest_periods(nb::module_& module, const char* entry_name) {
    define_function(module, definition, "cheapest_periods", entry_name, messages::cheapest_periods_doc());
}

void define_plan_table(nb::module_& module, const char* entry_name, const std::string& doc) {
    define_function(module, plan_table_definition, "_plan_table", entry_name, doc);
}

void define_plan(nb::module_& module, const char* entry_name) {
    define_function(module, plan_definition, "_plan", entry_name, messages::plan_doc());
}

}  // namespace kestrava::plan_module
