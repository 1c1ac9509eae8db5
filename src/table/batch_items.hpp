// The items a batch's rows hold in a list column, checked before any is read. A batch
// that is a slice of a larger table shares its list columns' items with every other
// slice, so nanoarrow's full validation, which walks a list's items whole, would read
// them all again for each batch; here only the rows' own items are read.
//
// What is checked: a list's offsets never go back over the rows, a list view's each
// row start and size lie within the items, and the text items among them have offsets
// that never go back (text) or buffers and ranges that exist (text views, whose
// buffer sizes the interface carries). What cannot be: a values or text buffer shorter
// than its offsets and lengths say, for the interface carries no other buffer sizes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nanoarrow/nanoarrow.h>

namespace kestrava::table {

// For a list column `list` (viewed, nanoarrow's default checks passed): why its rows
// first .. first + count - 1 (before the column's own offset) do not hold valid items,
// or nullopt.
std::optional<std::string> list_rows_fault(const ArrowArrayView& list, std::int64_t first, std::int64_t count);

}  // namespace kestrava::table
