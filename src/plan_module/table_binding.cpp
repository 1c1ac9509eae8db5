// The binding of table_binding.hpp: capsules in and out, scalars read once per call.
#include "plan_module/table_binding.hpp"

#include <cerrno>
#include <csignal>
#include <exception>
#include <memory>
#include <string>

#include "binding/forced_unwind.hpp"
#include "binding/interpreter_lock.hpp"
#include "plan_module/price_objects.hpp"
#include "plan_module/python_call.hpp"
#include "plan_module/rule_arguments.hpp"
#include "plan_module/shared_run.hpp"
#include "plan_module/type_name.hpp"
#include "selection/prices/exact_prices.hpp"
#include "table/arrow_handles.hpp"
#include "table/plan_messages.hpp"

namespace kestrava::plan_module {

namespace nb = nanobind;
namespace messages = table::messages;
using table::ArrowHandle;
using table::ColumnNames;
using table::count_rule_count;
using table::Nanoseconds;
using table::OwnedArray;
using table::OwnedSchema;
using table::OwnedStream;
using table::Rule;
using table::rule_count;
using table::rule_names;
using table::RuleScalars;

namespace {

constexpr const char* schema_capsule_name = "arrow_schema";
constexpr const char* array_capsule_name = "arrow_array";
constexpr const char* stream_capsule_name = "arrow_array_stream";

// A capsule owns a heap structure and releases what is still in it when it dies.
template <class T>
void release_capsule(PyObject* capsule, const char* name) {
    auto* value = static_cast<T*>(PyCapsule_GetPointer(capsule, name));
    if (value == nullptr) {
        PyErr_Clear();
        return;
    }
    if (value->release != nullptr) value->release(value);
    delete value;
}

template <class T>
nb::object capsule_of(ArrowHandle<T>& handle, const char* name, PyCapsule_Destructor destructor) {
    auto* value = new T;
    value->release = nullptr;
    PyObject* capsule = PyCapsule_New(value, name, destructor);
    if (capsule == nullptr) {
        delete value;
        throw nb::python_error();
    }
    handle.release_to(value);
    return nb::steal(capsule);
}

nb::object schema_capsule(const ArrowSchema& schema) {
    OwnedSchema copy;
    if (ArrowSchemaDeepCopy(&schema, copy.get()) != NANOARROW_OK) throw std::bad_alloc();
    return capsule_of(copy, schema_capsule_name, [](PyObject* c) { release_capsule<ArrowSchema>(c, schema_capsule_name); });
}

// The structure a capsule holds; a consumer that took it marked it released, and none
// of its callbacks may run then.
template <class T>
T& unreleased(nb::handle capsule, const char* name) {
    auto* value = static_cast<T*>(PyCapsule_GetPointer(capsule.ptr(), name));
    if (value == nullptr) throw nb::python_error();
    if (value->release == nullptr) throw nb::value_error(std::string(messages::stream_released).c_str());
    return *value;
}

// An 'arrow_array_stream' capsule, or a table's batches as (schema capsule, [array
// capsule, ...]): a stream of those arrays, taken over from their capsules.
OwnedStream stream_from(nb::handle data) {
    OwnedStream owned;
    if (!nb::isinstance<nb::tuple>(data)) {
        owned.take_from(&unreleased<ArrowArrayStream>(data, stream_capsule_name));
        return owned;
    }
    const auto parts = nb::borrow<nb::tuple>(data);
    const auto arrays = nb::borrow<nb::list>(parts[1]);
    for (nb::handle array : arrays) (void)unreleased<ArrowArray>(array, array_capsule_name);
    OwnedSchema schema;
    schema.take_from(&unreleased<ArrowSchema>(parts[0], schema_capsule_name));
    if (ArrowBasicArrayStreamInit(owned.get(), schema.get(), static_cast<std::int64_t>(arrays.size())) != NANOARROW_OK) {
        throw std::bad_alloc();
    }
    std::int64_t index = 0;
    for (nb::handle array : arrays) {
        ArrowBasicArrayStreamSetArray(owned.get(), index++, &unreleased<ArrowArray>(array, array_capsule_name));
    }
    return owned;
}

std::string scalar_threshold(nb::handle value) {
    const nb::object text = read_threshold(value);
    const std::string_view view = text_of(text);
    // Checked once here rather than refused in every row.
    planner::ExactPrices prices;
    const std::string_view zero = "0";
    if (planner::read_exact_prices(std::span<const std::string_view>(&zero, 1), view, prices)) {
        throw nb::value_error(messages::not_a_decimal_number(table::rule_name(Rule::low_price_threshold), shown(text)).c_str());
    }
    return std::string(view);
}

std::int64_t scalar_count(nb::handle value, const char* name) {
    bool negative = false;
    const Count count = read_count(value, name, &negative);
    if (negative) throw nb::value_error(messages::count_negative(name, count.written()).c_str());
    if (count.large) throw nb::value_error(messages::count_too_large(name, count.written()).c_str());
    return static_cast<std::int64_t>(count.value);
}

// A day count as an int of any sign: plan refuses a negative one row by row, after
// the times (row_days.hpp).
std::int64_t scalar_day_count(nb::handle value, const char* name) {
    int overflow = 0;
    const long long count = PyLong_Check(value.ptr()) ? PyLong_AsLongLongAndOverflow(value.ptr(), &overflow) : 0;
    if (!PyLong_Check(value.ptr())) throw nb::type_error(messages::count_not_an_int(name, type_name(Py_TYPE(value.ptr()))).c_str());
    if (count == -1 && PyErr_Occurred()) throw nb::python_error();
    if (overflow != 0) throw nb::value_error(messages::count_too_large(name, shown(value)).c_str());
    return count;
}

// A timedelta as the layer above hands it over: (days, microseconds within the day).
Nanoseconds scalar_duration(nb::handle value) {
    const auto part = [&](std::size_t index) {
        const long long number = PyLong_AsLongLong(nb::tuple(nb::borrow(value))[index].ptr());
        if (number == -1 && PyErr_Occurred() != nullptr) throw nb::python_error();
        return Nanoseconds{number};
    };
    return (part(0) * 86'400'000'000 + part(1)) * 1'000;
}

// The scalars of the rules that are no columns.
RuleScalars read_scalars(const ColumnNames& names, nb::tuple scalars, nb::tuple durations) {
    RuleScalars read;
    const auto is_scalar = [&](Rule rule) { return !names.rules[static_cast<std::size_t>(rule)]; };
    const auto scalar = [&](Rule rule) { return scalars[static_cast<std::size_t>(rule)]; };
    if (is_scalar(Rule::low_price_threshold)) read.threshold = scalar_threshold(scalar(Rule::low_price_threshold));
    const auto flag = [&](Rule rule) { return read_flag(scalar(rule), rule_name(rule)); };
    if (is_scalar(Rule::aggressive)) read.aggressive = flag(Rule::aggressive);
    if (is_scalar(Rule::most_expensive)) read.most_expensive = flag(Rule::most_expensive);
    if (is_scalar(Rule::allow_short_last_run)) read.allow_short_last_run = flag(Rule::allow_short_last_run);
    for (std::size_t c = 0; c < count_rule_count; ++c) {
        const std::size_t r = table::count_rule_index(c);
        if (!is_scalar(static_cast<Rule>(r))) continue;
        if (!durations[r].is_none()) {
            read.durations[c] = scalar_duration(durations[r]);
        } else if (c < table::planner_count_rule_count) {
            read.counts[c] = scalar_count(scalars[r], rule_names[r]);
        } else {
            read.counts[c] = scalar_day_count(scalars[r], rule_names[r]);
        }
    }
    return read;
}

std::string name_of(nb::handle name) {
    if (!PyUnicode_Check(name.ptr())) throw nb::type_error("plan_table: a column's name must be a str");
    return std::string(text_of(name));
}

ColumnNames column_names(nb::handle id, nb::handle prices, nb::handle times, nb::handle days,
                         nb::tuple rule_columns) {
    ColumnNames names;
    if (!id.is_none()) names.id = name_of(id);
    names.prices = name_of(prices);
    if (!times.is_none()) names.times = name_of(times);
    if (!days.is_none()) names.days = name_of(days);
    for (std::size_t r = 0; r < rule_count; ++r) {
        if (!rule_columns[r].is_none()) names.rules[r] = name_of(rule_columns[r]);
    }
    return names;
}

struct TablePlan {
    std::shared_ptr<SharedRun> run;
};

nb::object array_capsule(OwnedArray& array) {
    return capsule_of(array, array_capsule_name, [](PyObject* c) { release_capsule<ArrowArray>(c, array_capsule_name); });
}

// The next batch of the run. Python code may run in it and let the lock go: a thread
// that the finalising interpreter ends then parks (forced_unwind.hpp), and every other
// exception is rethrown outside.
std::optional<OwnedArray> next_of(SharedRun& run) {
    std::optional<OwnedArray> batch;
    std::exception_ptr failure;
    parked_on_forced_unwind([&] {
        try {
            batch = next_batch(run);
        } catch (const nb::python_error&) {
            failure = std::current_exception();
        } catch (const std::exception&) {
            failure = std::current_exception();
        }
    });
    if (failure) std::rethrow_exception(failure);
    return batch;
}

// The batches as the objects of a library that imports Arrow arrays (pyarrow's
// RecordBatch._import_from_c_capsule), for a reader that library builds over an
// iterator. Nothing here runs Python bytecode, and each call into the interpreter that
// may let the lock go parks on a forced unwind, so that a library that holds the lock
// around the iterator (and cannot unwind) never sees its thread ended at exit.
struct ImportedBatches {
    std::shared_ptr<SharedRun> run;
    nb::object import_batch;
};

nb::object next_imported(ImportedBatches& batches) {
    std::optional<OwnedArray> batch = next_of(*batches.run);
    if (!batch) throw nb::stop_iteration();
    const nb::object schema = schema_capsule(batches.run->engine->schema());
    const nb::object array = array_capsule(*batch);
    // Owned outside: a forced unwind runs no destructor that needs the lock.
    PyObject* imported = nullptr;
    parked_on_forced_unwind([&] {
        imported = PyObject_CallFunctionObjArgs(batches.import_batch.ptr(), schema.ptr(), array.ptr(), nullptr);
    });
    if (imported == nullptr) throw nb::python_error();
    return nb::steal(imported);
}

// The run as an Arrow stream of its own, for a consumer that pulls from C; it may call
// without the interpreter lock, so each batch takes it.
struct ExportedRun {
    std::shared_ptr<SharedRun> run;
    std::string last_error;
};

ExportedRun& exported(ArrowArrayStream* stream) { return *static_cast<ExportedRun*>(stream->private_data); }

int exported_schema(ArrowArrayStream* stream, ArrowSchema* out) {
    return ArrowSchemaDeepCopy(&exported(stream).run->engine->schema(), out) == NANOARROW_OK ? 0 : ENOMEM;
}

int exported_next(ArrowArrayStream* stream, ArrowArray* out) {
    ExportedRun& run = exported(stream);
    const PyGILState_STATE state = take_lock_on_any_thread();
    int code = 0;
    try {
        std::optional<OwnedArray> batch = next_of(*run.run);
        out->release = nullptr;
        if (batch) batch->release_to(out);
    } catch (nb::python_error& error) {
        run.last_error = error.what();
        // The consumer sees an error code; Ctrl-C is raised again for the interpreter.
        if (error.matches(PyExc_KeyboardInterrupt)) PyErr_SetInterruptEx(SIGINT);
        code = EIO;
    } catch (const std::exception& error) {
        run.last_error = error.what();
        code = EIO;
    }
    PyGILState_Release(state);
    return code;
}

const char* exported_error(ArrowArrayStream* stream) {
    const std::string& error = exported(stream).last_error;
    return error.empty() ? nullptr : error.c_str();
}

void exported_release(ArrowArrayStream* stream) {
    delete static_cast<ExportedRun*>(stream->private_data);
    stream->release = nullptr;
}

nb::object export_stream(TablePlan& plan, nb::handle /*requested_schema*/) {
    OwnedStream stream;
    stream->private_data = new ExportedRun{plan.run, {}};
    stream->get_schema = &exported_schema;
    stream->get_next = &exported_next;
    stream->get_last_error = &exported_error;
    stream->release = &exported_release;
    return capsule_of(stream, stream_capsule_name,
                      [](PyObject* c) { release_capsule<ArrowArrayStream>(c, stream_capsule_name); });
}

TablePlan plan_table(nb::handle stream, nb::handle id, nb::handle prices, nb::handle times, nb::handle days,
                     nb::tuple rule_columns,
                     nb::tuple rule_scalars, nb::tuple rule_durations, unsigned threads) {
    // The tuples are read by index unchecked: one too short from a caller of the old
    // arity would read past its end.
    for (const nb::tuple& rules : {rule_columns, rule_scalars, rule_durations}) {
        if (rules.size() != rule_count) {
            throw nb::type_error("_plan_table: each rule tuple holds one item per rule in RULES");
        }
    }
    const ColumnNames names = column_names(id, prices, times, days, rule_columns);
    RuleScalars scalars = read_scalars(names, rule_scalars, rule_durations);
    return TablePlan{open_run(stream_from(stream), names, std::move(scalars), threads)};
}

}  // namespace

void define_plan_table(nb::module_& module) {
    nb::class_<TablePlan>(module, "_TablePlan",
                          "The batches plan_table plans, one per input batch, as the consumer asks for them.")
        .def("schema", [](const TablePlan& plan) { return schema_capsule(plan.run->engine->schema()); },
             "The output's schema as an 'arrow_schema' capsule.")
        .def(
            "batches",
            [](const TablePlan& plan, nb::object import_batch) { return ImportedBatches{plan.run, std::move(import_batch)}; },
            nb::arg("import_batch"),
            "An iterator of the batches, each passed as (schema capsule, array capsule) to import_batch.")
        .def("__arrow_c_stream__", &export_stream, nb::arg("requested_schema").none() = nb::none(),
             "The remaining batches as an Arrow C stream capsule.");
    nb::class_<ImportedBatches>(module, "_ImportedBatches", "plan_table's batches as another library imports them.")
        .def("__iter__", [](nb::handle self) { return nb::borrow(self); })
        .def("__next__", &next_imported);
    // Positional only: kestrava_plan.tables._plan_table binds the arguments in front of
    // it, and orders each rule's three tuples as RULES names them.
    module.def("_plan_table", &plan_table, nb::arg().none(), nb::arg().none(), nb::arg().none(), nb::arg().none(),
               nb::arg().none(), nb::arg(), nb::arg(), nb::arg(), nb::arg());
    nb::list names;
    for (const char* name : rule_names) names.append(nb::str(name));
    module.attr("RULES") = nb::tuple(names);
}

}  // namespace kestrava::plan_module
