// The reading of price_sequence.hpp.
#include "plan_module/price_sequence.hpp"

#include <optional>
#include <string>

#include "plan_module/python_call.hpp"
#include "plan_module/python_types.hpp"
#include "plan_module/type_name.hpp"
#include "table/plan_messages.hpp"

namespace kestrava::plan_module {

namespace messages = table::messages;

namespace {

// Items read between two runs of the signal handlers: an iterator written in C
// (itertools.repeat) never enters the interpreter's loop, which would run them.
constexpr std::size_t items_between_signal_checks = 256;

bool has_no_period_order(nb::handle prices) {
    PyObject* object = prices.ptr();
    if (PyUnicode_Check(object) || PyBytes_Check(object) || PyByteArray_Check(object) || PyMemoryView_Check(object)) {
        return true;
    }
    if (PyList_Check(object) || PyTuple_Check(object)) return false;
    const bool iterable = PyType_GetSlot(Py_TYPE(object), Py_tp_iter) != nullptr;
    return is_unordered_collection(prices) || (!iterable && !PySequence_Check(object));
}

// len(prices) when the container has one.
std::optional<std::size_t> length_of(nb::handle prices) {
    const Py_ssize_t length = parked_on_forced_unwind([&] { return PyObject_Length(prices.ptr()); });
    if (length >= 0) return static_cast<std::size_t>(length);
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw nb::python_error();
    PyErr_Clear();
    return std::nullopt;
}

// More than `most_prices` items came: the message gives the count where len() knows it.
[[noreturn]] void refuse_too_many(nb::handle prices, std::size_t most_prices) {
    const std::optional<std::size_t> length = length_of(prices);
    const std::string message = length && *length > most_prices ? messages::too_many_prices(most_prices, *length)
                                                                 : messages::too_many_prices_unsized(most_prices);
    throw nb::value_error(message.c_str());
}

nb::tuple read_iterable(nb::handle prices, std::size_t most_prices) {
    nb::object iterator = python_call([&] { return PyObject_GetIter(prices.ptr()); });
    nb::list items;
    for (;;) {
        nb::object item = nb::steal(parked_on_forced_unwind([&] { return PyIter_Next(iterator.ptr()); }));
        if (!item.is_valid()) break;
        items.append(item);
        const auto count = static_cast<std::size_t>(PyList_Size(items.ptr()));
        if (count > most_prices) refuse_too_many(prices, most_prices);
        if (count % items_between_signal_checks == 0 &&
            parked_on_forced_unwind([] { return PyErr_CheckSignals(); }) < 0) {
            throw nb::python_error();
        }
    }
    if (PyErr_Occurred()) throw nb::python_error();
    return nb::steal<nb::tuple>(python_call([&] { return PyList_AsTuple(items.ptr()); }).release());
}

}  // namespace

nb::tuple read_price_items(nb::handle prices, std::size_t most_prices) {
    PyObject* object = prices.ptr();
    if (has_no_period_order(prices)) {
        throw nb::type_error(messages::prices_not_a_sequence(type_name(Py_TYPE(object))).c_str());
    }
    if (!PyList_Check(object) && !PyTuple_Check(object)) return read_iterable(prices, most_prices);
    // The size is known before any item is copied.
    const auto count = static_cast<std::size_t>(Py_SIZE(object));
    if (count > most_prices) throw nb::value_error(messages::too_many_prices(most_prices, count).c_str());
    return nb::steal<nb::tuple>(python_call([&] { return PySequence_Tuple(object); }).release());
}

}  // namespace kestrava::plan_module
