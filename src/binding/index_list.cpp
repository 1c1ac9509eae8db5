// The list of index_list.hpp.
#include "binding/index_list.hpp"

namespace kestrava {

PyObject* new_index_list(const IndexList& indices) noexcept {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(indices.size()));
    if (list == nullptr) return nullptr;
    for (std::size_t i = 0; i < indices.size(); ++i) {
        PyObject* index = PyLong_FromUnsignedLongLong(indices[i]);
        if (index == nullptr) {
            Py_DECREF(list);  // a list with unset items is released as usual
            return nullptr;
        }
        // Steals `index`, also when it fails.
        if (PyList_SetItem(list, static_cast<Py_ssize_t>(i), index) < 0) {
            Py_DECREF(list);
            return nullptr;
        }
    }
    return list;
}

}  // namespace kestrava
