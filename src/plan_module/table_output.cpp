// The building of table_output.hpp.
#include "plan_module/table_output.hpp"

#include <array>
#include <new>

namespace kestrava::plan_module {

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
    if (batch.offset != 0 || batch.children[index]->length != batch.length) out->null_count = -1;
    out->private_data = new std::shared_ptr<OwnedArray>(input);
    out->release = &release_borrowed;
}

void append_text(ArrowArray* array, const std::string& text) {
    check(ArrowArrayAppendString(array, ArrowStringView{text.data(), static_cast<std::int64_t>(text.size())}));
}

void append_row(const RowResult& result, std::array<ArrowArray*, computed_columns> columns) {
    if (result.state != RowResult::State::planned) {
        for (std::int64_t c = 0; c < 3; ++c) check(ArrowArrayAppendNull(columns[static_cast<std::size_t>(c)], 1));
        append_text(columns[3], result.message);
        return;
    }
    ArrowArray* items = columns[0]->children[0];
    for (const std::size_t period : result.periods) check(ArrowArrayAppendInt(items, static_cast<std::int64_t>(period)));
    check(ArrowArrayFinishElement(columns[0]));
    append_text(columns[1], result.cost);
    check(ArrowArrayAppendInt(columns[2], static_cast<std::int64_t>(result.periods.size())));
    check(ArrowArrayAppendNull(columns[3], 1));
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
    for (const RowResult& result : results) append_row(result, columns);
    for (ArrowArray* column : columns) check(ArrowArrayFinishBuildingDefault(column, nullptr));
    return batch;
}

}  // namespace kestrava::plan_module
