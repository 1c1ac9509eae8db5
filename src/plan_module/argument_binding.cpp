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

}  // namespace

void define_cheapest_periods(nb::module_& module, const char* entry_name) {
    // The function's globals: its module name (for __module__ and tracebacks) and the entry.
    nb::dict scope;
    scope["__name__"] = module.attr("__name__");
    scope["__builtins__"] = nb::borrow(PyEval_GetBuiltins());
    scope["_entry"] = module.attr(entry_name);
    nb::object code = checked(Py_CompileString(definition, "<kestrava_plan._planner>", Py_file_input));
    checked(PyEval_EvalCode(code.ptr(), scope.ptr(), scope.ptr()));
    nb::object function = scope["cheapest_periods"];
    const std::string doc = messages::cheapest_periods_doc();
    function.attr("__doc__") = nb::str(doc.c_str(), doc.size());
    module.attr("cheapest_periods") = function;
}

}  // namespace kestrava::plan_module
