// The definition of argument_binding.hpp.
#include "plan_module/argument_binding.hpp"

#include <string>

#include "plan_module/python_call.hpp"

namespace kestrava::plan_module {

namespace {

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

void define_plan_table(nb::module_& module, const char* entry_name, const std::string& doc) {
    define_function(module, plan_table_definition, "_plan_table", entry_name, doc);
}

}  // namespace kestrava::plan_module
