// The building of output.hpp.
#include "table/output.hpp"

#include <array>
#include <limits>
#include <new>

namespace kestrava::table {

namespace {

constexpr std::int64_t computed_columns = 4;  // periods, cost, count, error

void check(ArrowErrorCode code) {
    if (code != NANOARROW_OK) throw std::bad_alloc();
}

void set_field(ArrowSchema* field, ArrowType type, const char* name) {
    check(ArrowSchemaSetType(field, type));
    check(ArrowSchemaSetName(field, name));
}

// The parent record batch: its children's structures and the pointers to them.
struct BatchParts {
    std::array<ArrowArray, computed_columns + 1> children{};
    std::array<ArrowArray*, computed_columns + 1> pointers{};
    std::array<const void*, 1> buffers{};  // no validity: every row is there
};

void release_batch(ArrowArray* array) {
    auto* parts = static_cast<BatchParts*>(array->private_data);
    for (std::int64_t i = 0; i < array->n_children; ++i) {
        ArrowArray* child = array->children[i];
        if (child->release != nullptr) child->release(child);
    }
    delete parts;
    array->release = nullptr;
}

// The id column: the input's, whose buffers the shared input batch keeps.
void release_borrowed(ArrowArray* array) {
    delete static_cast<std::shared_ptr<OwnedArray>*>(array->private_data);
    array->release = nullptr;
}

void borrow_id(const std::shared_ptr<OwnedArray>& input, std::int64_t index, ArrowArray* out) {
    const ArrowArray& batch = *input->get();
    *out = *batch.children[index];
    // The batch's own offset and length apply to its columns.
    out->offset += batch.offset;
    out->length = batch.length;
    // A part of a column without nulls has none either, and says so: an absent validity
    // bitmap is allowed with a null count of 0 only. Another part's count is unknown.
    const bool whole = batch.offset == 0 && batch.children[index]->length == batch.length;
    if (!whole && out->null_count != 0) out->null_count = -1;
    out->private_data = new std::shared_ptr<OwnedArray>(input);
    out->release = &release_borrowed;
}

// A flag per row, 1 where a column holds a value: where the row planned, or, for the
// error, where it did not.
struct RowFlags {
    std::vector<std::int8_t> valid;
    std::int64_t nulls = 0;
};

RowFlags flags_of(const std::vector<RowResult>& results, bool valid_where_planned) {
    RowFlags flags;
    flags.valid.reserve(results.size());
    for (const RowResult& result : results) {
        const bool valid = (result.state == RowResult::State::planned) == valid_where_planned;
        flags.valid.push_back(valid ? 1 : 0);
        flags.nulls += valid ? 0 : 1;
    }
    return flags;
}

// A 32-bit offset, or std::bad_alloc for a batch whose texts or periods pass 2 GiB.
std::int32_t offset_of(std::int64_t end) {
    if (end > std::numeric_limits<std::int32_t>::max()) throw std::bad_alloc();
    return static_cast<std::int32_t>(end);
}

template <class Value>
void append_unsafe(ArrowBuffer* buffer, Value value) noexcept {
    ArrowBufferAppendUnsafe(buffer, &value, sizeof value);
}

void finish_rows(ArrowArray* column, const RowFlags& flags) {
    const auto rows = static_cast<std::int64_t>(flags.valid.size());
    ArrowBitmap* bitmap = ArrowArrayValidityBitmap(column);
    check(ArrowBitmapReserve(bitmap, rows));
    ArrowBitmapAppendInt8Unsafe(bitmap, flags.valid.data(), rows);
    column->length = rows;
    column->null_count = flags.nulls;
}

// Each buffer is sized for the whole batch first, so that a row's values go in
// without a check each.
void fill_texts(ArrowArray* column, const std::vector<RowResult>& results, std::string RowResult::*text,
                const RowFlags& flags) {
    std::int64_t bytes = 0;
    for (std::size_t r = 0; r < results.size(); ++r) {
        if (flags.valid[r] != 0) bytes += static_cast<std::int64_t>((results[r].*text).size());
    }
    offset_of(bytes);
    ArrowBuffer* offsets = ArrowArrayBuffer(column, 1);
    ArrowBuffer* data = ArrowArrayBuffer(column, 2);
    check(ArrowBufferReserve(offsets, static_cast<std::int64_t>(results.size() * sizeof(std::int32_t))));
    check(ArrowBufferReserve(data, bytes));
    std::int32_t end = 0;
    for (std::size_t r = 0; r < results.size(); ++r) {
        if (flags.valid[r] != 0) {
            const std::string& value = results[r].*text;
            ArrowBufferAppendUnsafe(data, value.data(), static_cast<std::int64_t>(value.size()));
            end += static_cast<std::int32_t>(value.size());
        }
        append_unsafe(offsets, end);
    }
    finish_rows(column, flags);
}

// The periods' items are never null, so they keep no validity bitmap, as nanoarrow's
// own appending leaves them. A refused row has no periods.
void fill_periods(ArrowArray* column, const std::vector<RowResult>& results, const RowFlags& flags) {
    std::int64_t items = 0;
    for (const RowResult& result : results) items += static_cast<std::int64_t>(result.periods.size());
    offset_of(items);
    ArrowBuffer* offsets = ArrowArrayBuffer(column, 1);
    ArrowBuffer* values = ArrowArrayBuffer(column->children[0], 1);
    check(ArrowBufferReserve(offsets, static_cast<std::int64_t>(results.size() * sizeof(std::int32_t))));
    check(ArrowBufferReserve(values, items * static_cast<std::int64_t>(sizeof(std::int32_t))));
    std::int32_t end = 0;
    for (const RowResult& result : results) {
        // Below the 3,000 periods a row may have.
        for (const std::size_t period : result.periods) append_unsafe(values, static_cast<std::int32_t>(period));
        end += static_cast<std::int32_t>(result.periods.size());
        append_unsafe(offsets, end);
    }
    column->children[0]->length = items;
    finish_rows(column, flags);
}

void fill_counts(ArrowArray* column, const std::vector<RowResult>& results, const RowFlags& flags) {
    ArrowBuffer* values = ArrowArrayBuffer(column, 1);
    check(ArrowBufferReserve(values, static_cast<std::int64_t>(results.size() * sizeof(std::int32_t))));
    for (const RowResult& result : results) append_unsafe(values, static_cast<std::int32_t>(result.periods.size()));
    finish_rows(column, flags);
}

}  // namespace

OwnedSchema output_schema(const ArrowSchema& input, const TableLayout& layout) {
    OwnedSchema schema;
    ArrowSchemaInit(schema.get());
    const std::int64_t first = layout.id.present() ? 1 : 0;
    check(ArrowSchemaSetTypeStruct(schema.get(), first + computed_columns));
    if (first == 1) {
        ArrowSchema* id = schema->children[0];
        id->release(id);
        check(ArrowSchemaDeepCopy(input.children[layout.id.index], id));
    }
    ArrowSchema* periods = schema->children[first];
    set_field(periods, NANOARROW_TYPE_LIST, "periods");
    check(ArrowSchemaSetType(periods->children[0], NANOARROW_TYPE_INT32));
    set_field(schema->children[first + 1], NANOARROW_TYPE_STRING, "cost");
    set_field(schema->children[first + 2], NANOARROW_TYPE_INT32, "count");
    set_field(schema->children[first + 3], NANOARROW_TYPE_STRING, "error");
    return schema;
}

OwnedArray output_batch(const ArrowSchema& schema, const std::shared_ptr<OwnedArray>& input, const TableLayout& layout,
                        const std::vector<RowResult>& results) {
    OwnedArray batch;
    auto* parts = new BatchParts();
    ArrowArray& out = *batch.get();
    out = ArrowArray{static_cast<std::int64_t>(results.size()), 0, 0, 1, schema.n_children, parts->buffers.data(),
                     parts->pointers.data(), nullptr, &release_batch, parts};
    const std::int64_t first = layout.id.present() ? 1 : 0;
    for (std::int64_t c = 0; c < schema.n_children; ++c) {
        parts->pointers[static_cast<std::size_t>(c)] = &parts->children[static_cast<std::size_t>(c)];
        parts->children[static_cast<std::size_t>(c)].release = nullptr;
    }
    if (first == 1) borrow_id(input, layout.id.index, parts->pointers[0]);
    std::array<ArrowArray*, computed_columns> columns{};
    for (std::int64_t c = 0; c < computed_columns; ++c) {
        ArrowArray* column = parts->pointers[static_cast<std::size_t>(first + c)];
        check(ArrowArrayInitFromSchema(column, schema.children[first + c], nullptr));
        check(ArrowArrayStartAppending(column));
        columns[static_cast<std::size_t>(c)] = column;
    }
    const RowFlags planned = flags_of(results, true);
    fill_periods(columns[0], results, planned);
    fill_texts(columns[1], results, &RowResult::cost, planned);
    fill_counts(columns[2], results, planned);
    fill_texts(columns[3], results, &RowResult::message, flags_of(results, false));
    for (ArrowArray* column : columns) check(ArrowArrayFinishBuildingDefault(column, nullptr));
    return batch;
}

}  // namespace kestrava::table
