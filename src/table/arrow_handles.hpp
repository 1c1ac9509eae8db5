// Owning handles on the structures of the Arrow C data interface (a schema, an array,
// a stream) and on a nanoarrow array view. Each is move-only and calls the structure's
// release callback (or ArrowArrayViewReset) at its end; `get()` lends the structure,
// `release_to(out)` moves it into a caller's structure, after which the handle holds
// nothing. They never touch the interpreter themselves.
#pragma once

#include <utility>

#include <nanoarrow/nanoarrow.h>

#include "binding/forced_unwind.hpp"

namespace kestrava::table {

// Handle<T>: T is ArrowSchema, ArrowArray or ArrowArrayStream, each with a release
// member that is nullptr once released.
template <class T>
class ArrowHandle {
public:
    ArrowHandle() noexcept { value_.release = nullptr; }
    ~ArrowHandle() { reset(); }
    ArrowHandle(const ArrowHandle&) = delete;
    ArrowHandle& operator=(const ArrowHandle&) = delete;
    ArrowHandle(ArrowHandle&& other) noexcept : value_(other.value_) { other.value_.release = nullptr; }
    ArrowHandle& operator=(ArrowHandle&& other) noexcept {
        if (this != &other) {
            reset();
            value_ = other.value_;
            other.value_.release = nullptr;
        }
        return *this;
    }

    T* get() noexcept { return &value_; }
    const T* get() const noexcept { return &value_; }
    T* operator->() noexcept { return &value_; }
    const T* operator->() const noexcept { return &value_; }
    bool valid() const noexcept { return value_.release != nullptr; }

    // Moves the structure into `out` (which must hold none).
    void release_to(T* out) noexcept {
        *out = value_;
        value_.release = nullptr;
    }
    // Takes over the structure at `source`, which is marked released.
    void take_from(T* source) noexcept {
        reset();
        value_ = *source;
        source->release = nullptr;
    }
    // A producer's release may take the interpreter lock (a stream of Python objects),
    // and the interpreter may end this thread there while it exits.
    void reset() noexcept {
        if (value_.release != nullptr) parked_on_forced_unwind([this] { value_.release(&value_); });
        value_.release = nullptr;
    }

private:
    T value_;
};

using OwnedSchema = ArrowHandle<ArrowSchema>;
using OwnedArray = ArrowHandle<ArrowArray>;
using OwnedStream = ArrowHandle<ArrowArrayStream>;

// A nanoarrow view of arrays of one schema, reset at its end.
class ArrayView {
public:
    ArrayView() noexcept { ArrowArrayViewInitFromType(&view_, NANOARROW_TYPE_UNINITIALIZED); }
    ~ArrayView() { ArrowArrayViewReset(&view_); }
    ArrayView(const ArrayView&) = delete;
    ArrayView& operator=(const ArrayView&) = delete;

    ArrowArrayView* get() noexcept { return &view_; }
    const ArrowArrayView* get() const noexcept { return &view_; }

private:
    ArrowArrayView view_;
};

}  // namespace kestrava::table
