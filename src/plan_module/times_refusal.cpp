// The zone lookups of times_refusal.hpp, through zoneinfo.
#include "plan_module/times_refusal.hpp"

#include "plan_module/python_call.hpp"
#include "table/plan_messages.hpp"

namespace kestrava::plan_module {

using table::Nanoseconds;
using table::RowRequest;
using table::fixed_offset;
namespace messages = table::messages;

namespace {

constexpr Nanoseconds per_second = 1'000'000'000;
constexpr Nanoseconds per_microsecond = 1'000;

// zoneinfo.ZoneInfo(zone); may read the zone's file and import tzdata.
nb::object zone_info(const std::string& zone) {
    const nb::object module = python_call([] { return PyImport_ImportModule("zoneinfo"); });
    const nb::object text = checked(PyUnicode_FromStringAndSize(zone.data(), static_cast<Py_ssize_t>(zone.size())));
    return python_call([&] { return PyObject_CallMethod(module.ptr(), "ZoneInfo", "O", text.ptr()); });
}

std::int64_t attribute(const nb::object& value, const char* name) {
    const nb::object part = checked(PyObject_GetAttrString(value.ptr(), name));
    const long long number = PyLong_AsLongLong(part.ptr());
    if (number == -1 && PyErr_Occurred() != nullptr) throw nb::python_error();
    return number;
}

// The zone's offset at `utc`, as datetime.fromtimestamp(seconds, zone).utcoffset().
Nanoseconds offset_at(const nb::object& zone, Nanoseconds utc) {
    const Nanoseconds floor_seconds = utc / per_second - (utc % per_second < 0 ? 1 : 0);
    const nb::object datetime = python_call([] { return PyImport_ImportModule("datetime"); });
    const nb::object seconds = checked(PyLong_FromLongLong(static_cast<long long>(floor_seconds)));
    const nb::object local = python_call([&] {
        return PyObject_CallMethod(datetime.attr("datetime").ptr(), "fromtimestamp", "OO", seconds.ptr(), zone.ptr());
    });
    const nb::object offset = python_call([&] { return PyObject_CallMethod(local.ptr(), "utcoffset", nullptr); });
    return ((Nanoseconds{attribute(offset, "days")} * 86'400 + attribute(offset, "seconds")) * 1'000'000 +
            attribute(offset, "microseconds")) * per_microsecond;
}

}  // namespace

void check_time_zone(const Column& times, const std::string& name) {
    if (fixed_offset(times.time_zone)) return;
    try {
        zone_info(times.time_zone);
    } catch (nb::python_error& error) {
        // ZoneInfoNotFoundError is a KeyError; a key that is no path, a ValueError.
        if (!error.matches(PyExc_KeyError) && !error.matches(PyExc_ValueError)) throw;
        throw nb::value_error(messages::unknown_time_zone(name, times.time_zone).c_str());
    }
}

std::string times_refusal(const TableBatch& batch, std::int64_t row, const TimesFault& fault) {
    const Column& column = batch.layout().times;
    RowRequest request;
    batch.read_times(row, request);
    const std::optional<Nanoseconds> fixed = fixed_offset(column.time_zone);
    const nb::object zone = fixed ? nb::none() : zone_info(column.time_zone);
    return times_fault_message(fault, request.times, *batch.column(column), column.time_unit, [&](Nanoseconds utc) {
        return fixed ? *fixed : offset_at(zone, utc);
    });
}

}  // namespace kestrava::plan_module
