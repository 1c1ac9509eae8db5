// The call boundary's failure paths: the internal-failure report and PanicException,
// and the aborts of the trap.
#include "module/call_boundary.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "module/messages.hpp"
#include "module/panic_exception.hpp"

namespace kestrava::module {

namespace {

void write_to_stderr(std::string_view text) noexcept { std::fwrite(text.data(), 1, text.size(), stderr); }

// The source path from its "src/" component on, so the report does not depend on
// where the tree was built.
std::string_view source_path(std::string_view file) noexcept {
    const std::size_t start = file.rfind("src/");
    return start == std::string_view::npos ? file : file.substr(start);
}

}  // namespace

PyObject* raise_internal_failure(const InternalFailure& failure) {
    const std::source_location& where = failure.where();
    write_to_stderr(messages::internal_failure_report(static_cast<std::uint64_t>(gettid()),
                                                      source_path(where.file_name()), where.line(), failure.message()));
    // Without memory for the class, its MemoryError is what the call raises.
    if (PyObject* panic_type = panic_exception_type()) {
        PythonError::deferred(panic_type, failure.message()).raise();
    }
    return nullptr;
}

void abort_uncaught_panic() noexcept {
    write_to_stderr(messages::uncaught_panic_line);
    std::abort();
}

void abort_allocation_failure_of_unknown_size() noexcept {
    write_to_stderr(messages::allocation_of_unknown_size_failed_line);
    std::abort();
}

}  // namespace kestrava::module
