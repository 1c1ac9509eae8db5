// The checks of batch_items.hpp.
#include "table/batch_items.hpp"

#include <algorithm>
#include <limits>

namespace kestrava::table {

namespace {

// The items of a list's rows: from the first item of any row to the end of the last.
struct ItemRange {
    std::int64_t begin = std::numeric_limits<std::int64_t>::max();
    std::int64_t end = 0;
};

std::string at(std::int64_t index) { return " at row " + std::to_string(index); }

template <class Offset>
std::optional<std::string> offsets_fault(const Offset* offsets, std::int64_t first, std::int64_t count,
                                         std::int64_t items, ItemRange& range) {
    if (offsets[first] < 0 || offsets[first + count] > items) {
        return "list offsets lie outside the " + std::to_string(items) + " items" + at(first);
    }
    for (std::int64_t row = first; row < first + count; ++row) {
        if (offsets[row + 1] < offsets[row]) return "list offsets go back" + at(row);
    }
    if (count > 0) range = {offsets[first], offsets[first + count]};
    return std::nullopt;
}

template <class Offset>
std::optional<std::string> views_fault(const Offset* offsets, const Offset* sizes, std::int64_t first,
                                       std::int64_t count, std::int64_t items, ItemRange& range) {
    for (std::int64_t row = first; row < first + count; ++row) {
        if (offsets[row] < 0 || sizes[row] < 0 || offsets[row] > items - sizes[row]) {
            return "a list view's start or size lies outside its " + std::to_string(items) + " items" + at(row);
        }
        if (sizes[row] == 0) continue;
        range.begin = std::min<std::int64_t>(range.begin, offsets[row]);
        range.end = std::max<std::int64_t>(range.end, offsets[row] + sizes[row]);
    }
    return std::nullopt;
}

template <class Offset>
std::optional<std::string> text_offsets_fault(const ArrowArrayView& texts, ItemRange range) {
    const Offset* offsets = static_cast<const Offset*>(texts.buffer_views[1].data.data) + texts.offset;
    if (offsets[range.begin] < 0) return "text offsets start below 0";
    for (std::int64_t item = range.begin; item < range.end; ++item) {
        if (offsets[item + 1] < offsets[item]) return "text offsets go back at item " + std::to_string(item);
    }
    return std::nullopt;
}

std::optional<std::string> text_views_fault(const ArrowArrayView& texts, ItemRange range) {
    const union ArrowBinaryView* views = texts.buffer_views[1].data.as_binary_view + texts.offset;
    for (std::int64_t item = range.begin; item < range.end; ++item) {
        const ArrowBinaryViewRef& ref = views[item].ref;
        if (ref.size < 0) return "a text view's size is negative at item " + std::to_string(item);
        if (ref.size <= NANOARROW_BINARY_VIEW_INLINE_SIZE) continue;
        if (ref.buffer_index < 0 || ref.buffer_index >= texts.n_variadic_buffers || ref.offset < 0 ||
            ref.offset > texts.variadic_buffer_sizes[ref.buffer_index] - ref.size) {
            return "a text view's buffer or range does not exist at item " + std::to_string(item);
        }
    }
    return std::nullopt;
}

std::optional<std::string> items_fault(const ArrowArrayView& items, ItemRange range) {
    if (range.begin >= range.end) return std::nullopt;
    switch (items.storage_type) {
        case NANOARROW_TYPE_STRING:
            return text_offsets_fault<std::int32_t>(items, range);
        case NANOARROW_TYPE_LARGE_STRING:
            return text_offsets_fault<std::int64_t>(items, range);
        case NANOARROW_TYPE_STRING_VIEW:
            return text_views_fault(items, range);
        default:  // fixed-width items: the default checks saw the child long enough
            return std::nullopt;
    }
}

}  // namespace

std::optional<std::string> list_rows_fault(const ArrowArrayView& list, std::int64_t first, std::int64_t count) {
    const std::int64_t from = list.offset + first;
    const std::int64_t items = list.children[0]->length;
    ItemRange range;
    std::optional<std::string> fault;
    switch (list.storage_type) {
        case NANOARROW_TYPE_LIST:
            fault = offsets_fault(list.buffer_views[1].data.as_int32, from, count, items, range);
            break;
        case NANOARROW_TYPE_LARGE_LIST:
            fault = offsets_fault(list.buffer_views[1].data.as_int64, from, count, items, range);
            break;
        case NANOARROW_TYPE_LIST_VIEW:
            fault = views_fault(list.buffer_views[1].data.as_int32, list.buffer_views[2].data.as_int32, from, count,
                                items, range);
            break;
        default:
            fault = views_fault(list.buffer_views[1].data.as_int64, list.buffer_views[2].data.as_int64, from, count,
                                items, range);
            break;
    }
    if (fault) return fault;
    return items_fault(*list.children[0], range);
}

}  // namespace kestrava::table
