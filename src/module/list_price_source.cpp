// ListPriceTextSource: reads price texts straight from a list's item storage.
#include "module/list_price_source.hpp"

#include <string>
#include <utility>

#include "module/conversions.hpp"
#include "module/messages.hpp"
#include "module/take_over_exception.hpp"
#include "selection/internal_failure.hpp"

namespace kestrava::module {

std::size_t ListPriceTextSource::current_size() const noexcept {
    // Never fails: the list was checked to be one.
    return static_cast<std::size_t>(PyList_Size(list_.get()));
}

std::optional<std::string_view> ListPriceTextSource::text_at(std::size_t index) noexcept {
    // Take the new element before letting go of the previous one: releasing may run a
    // finalizer, which could shrink the list under an index checked a moment ago.
    OwnedRef element = OwnedRef::new_reference(PyList_GetItem(list_.get(), static_cast<Py_ssize_t>(index)));
    std::swap(current_element_, element);
    element.reset();
    try {
        if (!current_element_) {
            // An index at or past the end (the caller checks the size first): its IndexError.
            error_ = take_over_current_exception();
            return std::nullopt;
        }
        PyOutcome<std::string_view> text = extract_text(current_element_.get());
        if (text.ok()) {
            return text.value();
        }
        error_ = text.take_error();
    } catch (...) {
        // The selection core must not see an exception; it is rethrown by take_error().
        failure_ = std::current_exception();
    }
    return std::nullopt;
}

PythonError ListPriceTextSource::take_error() {
    if (failure_) {
        std::rethrow_exception(std::exchange(failure_, nullptr));
    }
    if (!error_) {
        throw InternalFailure(std::string(messages::price_error_missing));
    }
    PythonError error = std::move(*error_);
    error_.reset();
    return error;
}

}  // namespace kestrava::module
