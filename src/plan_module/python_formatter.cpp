// The interpreter's texts of python_formatter.hpp.
#include "plan_module/python_formatter.hpp"

#include "plan_module/price_objects.hpp"
#include "plan_module/python_call.hpp"
#include "plan_module/python_types.hpp"

namespace kestrava::plan_module {

using table::Nanoseconds;

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
Nanoseconds zone_offset(const nb::object& zone, Nanoseconds utc) {
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

std::string PythonFormatter::text(std::string_view utf8) {
    return shown(checked(PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.size()), "replace")));
}

std::string PythonFormatter::decimal(std::string_view text) { return shown(new_decimal(text)); }

bool PythonFormatter::knows_zone(const std::string& zone) {
    try {
        zone_info(zone);
    } catch (nb::python_error& error) {
        if (!error.matches(PyExc_KeyError) && !error.matches(PyExc_ValueError)) throw;
        return false;
    }
    return true;
}

Nanoseconds PythonFormatter::offset_at(const std::string& zone, Nanoseconds utc) {
    return zone_offset(zone_info(zone), utc);
}

}  // namespace kestrava::plan_module
