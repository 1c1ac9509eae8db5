// The module's definition and its init entry PyInit_kestrava: single-phase
// initialization, one module object per process, bound to the first interpreter.
#include "module/call_boundary.hpp"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "binding/interned_strings.hpp"
#include "binding/interpreter_lock.hpp"
#include "binding/owned_ref.hpp"
#include "module/call_entry.hpp"
#include "module/display.hpp"
#include "module/function_description.hpp"
#include "module/messages.hpp"
#include "module/python_error.hpp"
#include "module/take_over_exception.hpp"
#include "selection/internal_failure.hpp"

namespace kestrava::module {

namespace {

// The docstring: the signature line built from the parameter table, the "--" line and a
// blank line (the interpreter splits these off into __text_signature__), then the text.
// Made once and never freed: the function objects point at it for the process.
const char* get_cheapest_periods_doc() {
    static const std::string* const doc =
        new std::string(messages::text_signature(get_cheapest_periods_description) + "\n--\n\n" +
                        std::string(messages::get_cheapest_periods_doc_text));
    return doc->c_str();
}

// The interpreter keeps a pointer to the definition for the life of the function object,
// so each function object gets its own heap copy of this record (its docstring filled in then).
const PyMethodDef get_cheapest_periods_method{
    "get_cheapest_periods",
    // The fast-call-with-keywords signature, stored in the generic slot as the
    // interpreter expects; the cast through void(*)() says the mismatch is intended.
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&get_cheapest_periods_entry)),
    METH_FASTCALL | METH_KEYWORDS,
    nullptr,
};

struct ModuleDef {
    PyModuleDef definition;
    // Fills a freshly created module.
    Status (*initializer)(PyObject* module);
    // -1 until the first interpreter initializes the module, then that interpreter's id.
    std::atomic<std::int64_t> interpreter_id;
    // The module, once made; one strong reference kept until the process ends.
    PyObject* module_cache;
};

// The stable ABI's version for PyModule_Create2, which every interpreter accepts from
// a limited-API module.
constexpr int module_api_version = PYTHON_ABI_VERSION;

Status add_get_cheapest_periods(PyObject* module);

ModuleDef module_def{
    .definition =
        {
            PyModuleDef_HEAD_INIT,
            "kestrava",                   // m_name
            messages::module_doc.data(),  // m_doc (a literal, so NUL-terminated)
            0,                            // m_size: no per-module state
            nullptr,                      // m_methods: the function is added by the initializer
            nullptr,                      // m_slots: single-phase initialization
            nullptr,                      // m_traverse
            nullptr,                      // m_clear
            nullptr,                      // m_free
        },
    .initializer = &add_get_cheapest_periods,
    .interpreter_id = -1,
    .module_cache = nullptr,
};

// Makes the function object, lists its name in __all__ and stores it on the module.
Status add_get_cheapest_periods(PyObject* module) {
    OwnedRef function;
    {
        const OwnedRef module_name = OwnedRef::steal(PyModule_GetNameObject(module));
        if (!module_name) {
            return take_over_current_exception();
        }
        auto definition_copy = std::make_unique<PyMethodDef>(get_cheapest_periods_method);
        definition_copy->ml_doc = get_cheapest_periods_doc();
        function = OwnedRef::steal(PyCMethod_New(definition_copy.get(), module, module_name.get(), nullptr));
        if (!function) {
            return take_over_current_exception();
        }
        // Now referenced by the function object, which the module keeps for the process.
        static_cast<void>(definition_copy.release());
    }

    const OwnedRef name = OwnedRef::steal(PyObject_GetAttr(function.get(), interned_name_attribute()));
    if (!name) {
        return take_over_current_exception();
    }
    if (!PyUnicode_Check(name.get())) {
        return type_error(messages::cannot_convert(type_name_text(Py_TYPE(name.get())), "PyString"));
    }

    OwnedRef all = OwnedRef::steal(PyObject_GetAttr(module, interned_all_attribute()));
    if (!all) {
        PythonError lookup_failure = take_over_current_exception();
        if (!lookup_failure.matches(PyExc_AttributeError)) {
            return lookup_failure;
        }
        all = OwnedRef::steal(PyList_New(0));
        if (!all) {
            fail_python_api_call();
        }
        if (PyObject_SetAttr(module, interned_all_attribute(), all.get()) < 0) {
            return take_over_current_exception();
        }
    } else if (!PyList_Check(all.get())) {
        return type_error(messages::cannot_convert(type_name_text(Py_TYPE(all.get())), "PyList"));
    }
    if (PyList_Append(all.get(), name.get()) < 0) {
        drop_current_exception();
        throw InternalFailure(std::string(messages::could_not_append_to_all));
    }

    if (PyObject_SetAttr(module, name.get(), function.get()) < 0) {
        return take_over_current_exception();
    }
    return std::nullopt;
}

PyOutcome<OwnedRef> initialize_module() {
    const std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (interpreter == -1) {
        return take_over_current_exception();
    }
    // Checked before the cache: the cached module belongs to the first interpreter only.
    std::int64_t bound = -1;
    if (!module_def.interpreter_id.compare_exchange_strong(bound, interpreter) && bound != interpreter) {
        return PythonError::deferred(PyExc_ImportError, std::string(messages::subinterpreters_unsupported));
    }
    if (module_def.module_cache != nullptr) {
        return OwnedRef::new_reference(module_def.module_cache);
    }
    // The stop check asks which thread runs signal handlers.
    if (!remember_finalising_thread()) {
        return take_over_current_exception();
    }
    OwnedRef module = OwnedRef::steal(PyModule_Create2(&module_def.definition, module_api_version));
    if (!module) {
        return take_over_current_exception();
    }
    if (Status failure = module_def.initializer(module.get())) {
        return std::move(*failure);
    }
    module_def.module_cache = OwnedRef::new_reference(module.get()).release();
    return module;
}

}  // namespace

}  // namespace kestrava::module

PyMODINIT_FUNC PyInit_kestrava() {
    return kestrava::module::run_in_call_boundary([] { return kestrava::module::initialize_module(); });
}
