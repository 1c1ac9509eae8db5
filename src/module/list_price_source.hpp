// ListPriceTextSource: the selection's PriceTextSource over a Python list of price texts.
#pragma once

#include "binding/python_include.hpp"

#include <cstddef>
#include <exception>
#include <optional>
#include <string_view>

#include "binding/owned_ref.hpp"
#include "module/python_error.hpp"
#include "selection/requests/request.hpp"

namespace kestrava::module {

// Reads the list's own item storage (never a subclass's __len__ or __getitem__). The
// element whose text was handed out is kept alive by a strong reference until the next
// read, so the text stays valid even if the list changes meanwhile. The first element
// that is no text leaves its conversion error here, for the caller to raise unchanged.
class ListPriceTextSource final : public PriceTextSource {
public:
    explicit ListPriceTextSource(BorrowedRef list) noexcept : list_(list) {}

    std::size_t current_size() const noexcept override;
    std::optional<std::string_view> text_at(std::size_t index) noexcept override;

    // The conversion error of the element that gave no text. Rethrows an internal
    // failure that happened while reading it. Precondition: text_at returned nullopt.
    PythonError take_error();

private:
    BorrowedRef list_;  // the caller's argument keeps it alive for the call
    OwnedRef current_element_;
    std::optional<PythonError> error_;
    std::exception_ptr failure_;
};

}  // namespace kestrava::module
