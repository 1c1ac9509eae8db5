// The one way the bindings include the interpreter's C API: sizes as Py_ssize_t, and
// Python.h ahead of every standard header, as the interpreter requires.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
