// plan_table's compiled side in kestrava_plan._planner: the entry _plan_table, which
// reads the rules given as scalars and the data's schema, and the class TablePlan it
// answers, whose batches the Python layer turns into a table or a stream (or which
// exports itself as an Arrow stream, for consumers without pyarrow).
#pragma once

#include <nanobind/nanobind.h>

namespace kestrava::plan_module {

void define_plan_table(nanobind::module_& module);

}  // namespace kestrava::plan_module
