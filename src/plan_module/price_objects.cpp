// The conversions of price_objects.hpp.
#include "plan_module/price_objects.hpp"

#include <optional>
#include <string>

#include "binding/numpy_bool.hpp"
#include "binding/python_failure.hpp"
#include "binding/utf8_view.hpp"
#include "plan_module/price_sequence.hpp"
#include "plan_module/python_call.hpp"
#include "plan_module/python_types.hpp"
#include "plan_module/type_name.hpp"
#include "table/plan_messages.hpp"
#include "table/rule_names.hpp"
#include "table/scientific_text.hpp"

namespace kestrava::plan_module {

namespace messages = table::messages;

namespace {

// Messages show at most this many characters of a value.
constexpr std::size_t longest_shown = 60;

// Where a value sits, for messages: "prices[17]" or "low_price_threshold".
struct Place {
    std::string_view name;
    std::optional<std::size_t> index;

    std::string text() const {
        std::string place(name);
        if (index) place += "[" + std::to_string(*index) + "]";
        return place;
    }
};

[[noreturn]] void refuse_type(const std::string& message) { throw nb::type_error(message.c_str()); }
[[noreturn]] void refuse_value(const std::string& message) { throw nb::value_error(message.c_str()); }

nb::object new_str(std::string_view text) {
    return checked(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

// A float as its shortest repr, written out plainly when the repr has an exponent.
nb::object float_text(nb::handle value, const Place& place) {
    nb::object repr = checked(float_repr(value.ptr()));
    const std::string_view text = text_of(repr);
    if (text == "nan" || text == "inf" || text == "-inf") refuse_value(messages::not_finite(place.text(), text));
    if (std::optional<std::string> plain = table::plain_from_scientific(text)) return new_str(*plain);
    return repr;
}

// How long a finite Decimal's plain text is, from its digits and exponent; nullopt
// when the exponent does not even fit 64 bits.
std::optional<long long> written_out_length(nb::handle value) {
    // A subclass's as_tuple may answer with any sequence: its items, their length and the
    // exponent's __index__ may be Python code too.
    nb::object parts = python_call([&] { return PyObject_CallMethod(value.ptr(), "as_tuple", nullptr); });
    const nb::object digit_tuple = python_call([&] { return PySequence_GetItem(parts.ptr(), 1); });
    const nb::object exponent_object = python_call([&] { return PySequence_GetItem(parts.ptr(), 2); });
    const Py_ssize_t digits = parked_on_forced_unwind([&] { return PyObject_Length(digit_tuple.ptr()); });
    if (digits < 0) throw nb::python_error();
    int overflow = 0;
    const long long exponent =
        parked_on_forced_unwind([&] { return PyLong_AsLongLongAndOverflow(exponent_object.ptr(), &overflow); });
    if (exponent == -1 && PyErr_Occurred()) throw nb::python_error();
    if (overflow != 0 || exponent < -(1LL << 40) || exponent > (1LL << 40)) return std::nullopt;
    if (exponent >= 0) return digits + exponent;
    return (digits > -exponent ? digits : -exponent + 1) + 1;
}

nb::object decimal_text(nb::handle value, const Place& place) {
    nb::object finite = python_call([&] { return PyObject_CallMethod(value.ptr(), "is_finite", nullptr); });
    const int is_finite = parked_on_forced_unwind([&] { return PyObject_IsTrue(finite.ptr()); });
    if (is_finite < 0) throw nb::python_error();
    if (is_finite == 0) refuse_value(messages::not_finite(place.text(), shown(value)));
    const std::optional<long long> length = written_out_length(value);
    if (!length || *length > static_cast<long long>(longest_written_out_decimal)) {
        refuse_value(messages::too_long_to_write_out(place.text(), shown(value), longest_written_out_decimal));
    }
    nb::object format = new_str("f");
    return python_call([&] { return PyObject_Format(value.ptr(), format.ptr()); });
}

[[noreturn]] void refuse_other_type(nb::handle value, const Place& place);

// An integer (an int, or any type with __index__) as its digits. An object whose
// __index__ refuses with a TypeError (a numpy array has one) is no integer after all.
nb::object integer_text(nb::handle value, const Place& place) {
    PyObject* integer = parked_on_forced_unwind([&] { return PyNumber_Index(value.ptr()); });
    if (integer == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw nb::python_error();
        PyErr_Clear();
        refuse_other_type(value, place);
    }
    nb::object held = nb::steal(integer);
    return checked(int_repr(integer));
}

void refuse_other_type(nb::handle value, const Place& place) {
    PyObject* object = value.ptr();
    const std::string name = type_name(Py_TYPE(object));
    if (is_numpy_bool_type(Py_TYPE(object))) refuse_type(messages::bool_not_a_price(place.text(), shown(value)));
    if (is_numpy_narrow_float(value)) {
        refuse_type(messages::narrow_float_not_a_price(place.text(), shown(value), name));
    }
    refuse_type(messages::not_a_price_type(place.text(), shown(value), name));
}

// The text of one price or of the threshold, as a str of its own.
nb::object price_text(nb::handle value, const Place& place) {
    PyObject* object = value.ptr();
    if (PyUnicode_Check(object)) return nb::borrow(value);
    if (PyBool_Check(object)) refuse_type(messages::bool_not_a_price(place.text(), shown(value)));
    if (PyFloat_Check(object)) return float_text(value, place);
    if (PyLong_Check(object)) return integer_text(value, place);
    if (is_decimal(value)) return decimal_text(value, place);
    if (PyIndex_Check(object) && !is_numpy_bool_type(Py_TYPE(object))) return integer_text(value, place);
    refuse_other_type(value, place);
}

}  // namespace

PriceTexts read_prices(nb::handle prices, std::size_t most_prices) {
    PriceTexts read;
    read.prices = read_price_items(prices, most_prices);
    const std::size_t count = read.prices.size();
    if (count == 0) refuse_value(std::string(messages::prices_empty));
    read.holders.reserve(count);
    read.texts.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        read.holders.push_back(price_text(read.prices[i], Place{"prices", i}));
    }
    // Views are taken once every text exists: a str made later cannot move an earlier one's bytes.
    for (const nb::object& holder : read.holders) read.texts.push_back(text_of(holder));
    return read;
}

nb::object read_threshold(nb::handle threshold) {
    nb::object text = price_text(threshold, Place{table::rule_name(table::Rule::low_price_threshold), std::nullopt});
    text_of(text);
    return text;
}

std::string_view text_of(nb::handle text) {
    if (const std::optional<std::string_view> utf8 = utf8_view(text.ptr())) return *utf8;
    // A lone surrogate has no UTF-8 form; it is no digit either, so the text stands for
    // no number. The planner gets one that says so.
    drop_current_exception();
    return "\xff";
}

std::string shown(nb::handle value) {
    PyObject* object = value.ptr();
    PyObject* repr = PyFloat_Check(object) ? float_repr(object)
                                           : parked_on_forced_unwind([object] { return PyObject_Repr(object); });
    if (repr == nullptr) {
        PyErr_Clear();
        return "<" + type_name(Py_TYPE(object)) + " object>";
    }
    nb::object held = nb::steal(repr);
    std::string text(text_of(held));
    if (text.size() > longest_shown) {
        // Cut at the start of a character, never inside its UTF-8 bytes.
        std::size_t cut = longest_shown - 3;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
        text = text.substr(0, cut) + "...";
    }
    return text;
}

}  // namespace kestrava::plan_module
