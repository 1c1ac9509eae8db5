// OwnedRef and BorrowedRef: the handles on interpreter objects of the raw C API code in
// both bindings (nanobind code keeps nb::object).
//
// Ownership rules:
//  1. An owned reference lives in an OwnedRef, made either by stealing a new reference
//     that an interpreter call returned (OwnedRef::steal) or by taking a new one on a
//     borrowed pointer (OwnedRef::new_reference). Nothing else owns.
//  2. A BorrowedRef (or a plain PyObject* parameter) owns nothing and never releases; it
//     is valid only while something else keeps the object alive: the caller's argument
//     array, a container that holds it, or an OwnedRef further up the stack.
//  3. An owned reference leaves its handle in exactly one of two ways: release() hands
//     it to the caller or to an interpreter call that steals it, or the handle's end
//     decrements it. A handle ends only on a thread that holds the interpreter lock.
#pragma once

#include "binding/python_include.hpp"

#include <utility>

namespace kestrava {

class OwnedRef {
public:
    OwnedRef() noexcept = default;
    OwnedRef(const OwnedRef&) = delete;
    OwnedRef& operator=(const OwnedRef&) = delete;
    OwnedRef(OwnedRef&& other) noexcept : object_(other.release()) {}
    OwnedRef& operator=(OwnedRef&& other) noexcept {
        if (this != &other) {
            reset();
            object_ = other.release();
        }
        return *this;
    }
    ~OwnedRef() { reset(); }

    // Takes over a new reference (NULL gives an empty handle).
    static OwnedRef steal(PyObject* object) noexcept { return OwnedRef(object); }
    // Takes a new reference of its own on a borrowed object.
    static OwnedRef new_reference(PyObject* object) noexcept {
        Py_XINCREF(object);
        return OwnedRef(object);
    }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

    // Hands the reference out; the handle is empty afterwards.
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }

    // Empties the handle first: the release may run a finalizer that looks at it.
    void reset() noexcept { Py_XDECREF(std::exchange(object_, nullptr)); }

private:
    explicit OwnedRef(PyObject* object) noexcept : object_(object) {}

    PyObject* object_ = nullptr;
};

// A pointer to an object that someone else keeps alive (rule 2); copying it is free.
class BorrowedRef {
public:
    constexpr BorrowedRef() noexcept = default;
    constexpr BorrowedRef(PyObject* object) noexcept : object_(object) {}
    BorrowedRef(const OwnedRef& owner) noexcept : object_(owner.get()) {}

    constexpr PyObject* get() const noexcept { return object_; }
    constexpr explicit operator bool() const noexcept { return object_ != nullptr; }
    PyTypeObject* type() const noexcept { return Py_TYPE(object_); }

private:
    PyObject* object_ = nullptr;
};

}  // namespace kestrava
