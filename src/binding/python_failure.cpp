// The dropping and the giving up of python_failure.hpp.
#include "binding/python_failure.hpp"

#include "binding/python_include.hpp"

#include <string>

#include "selection/internal_failure.hpp"

namespace kestrava {

void drop_current_exception() noexcept { PyErr_Clear(); }

void fail_python_api_call(std::source_location where) {
    PyErr_Print();
    throw InternalFailure(std::string("Python API call failed"), where);
}

}  // namespace kestrava
