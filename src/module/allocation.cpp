// The module's own operator new and delete: a failed allocation writes
// "memory allocation of {n} bytes failed" and ends the process, instead of unwinding
// std::bad_alloc through code that cannot report its size.
//
// The definitions are hidden, so they serve the code linked into this extension (the
// module and the selection core) and never replace the allocator of the interpreter or
// of other extensions. They allocate with malloc and free with free, as the C++
// library's own operators do, so memory may cross between the two sets freely.
// Sanitizer builds keep the library's operators, whose checks rely on them.
#if !defined(__SANITIZE_ADDRESS__)

#include "module/messages.hpp"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <type_traits>

namespace {

[[noreturn]] void allocation_failed(std::size_t size) noexcept {
    std::fprintf(stderr, kestrava::module::messages::allocation_failed_format, size);
    std::abort();
}

// Follows the language rules (a new-handler gets its chance to free memory), but
// ends the process where the standard would throw.
void* allocate(std::size_t size) noexcept {
    const std::size_t asked = size == 0 ? 1 : size;
    for (;;) {
        if (void* memory = std::malloc(asked)) {
            return memory;
        }
        std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) {
            allocation_failed(size);
        }
        handler();
    }
}

void* allocate_aligned(std::size_t size, std::align_val_t alignment) noexcept {
    const auto align = static_cast<std::size_t>(alignment);
    // aligned_alloc wants a size that is a multiple of the alignment.
    const std::size_t asked = size == 0 ? align : (size + align - 1) / align * align;
    for (;;) {
        if (void* memory = std::aligned_alloc(align, asked)) {
            return memory;
        }
        std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) {
            allocation_failed(size);
        }
        handler();
    }
}

void* try_allocate(std::size_t size) noexcept { return std::malloc(size == 0 ? 1 : size); }

void* try_allocate_aligned(std::size_t size, std::align_val_t alignment) noexcept {
    const auto align = static_cast<std::size_t>(alignment);
    return std::aligned_alloc(align, size == 0 ? align : (size + align - 1) / align * align);
}

// The C++ library declares these operators with default visibility, so a visibility
// attribute here would be ignored; the assembler directive hides the definitions below
// instead. The names are the Itanium manglings for a 64-bit size_t.
static_assert(std::is_same_v<std::size_t, unsigned long>, "mangled names below assume size_t is unsigned long");
asm(".hidden _Znwm\n"
    ".hidden _Znam\n"
    ".hidden _ZnwmSt11align_val_t\n"
    ".hidden _ZnamSt11align_val_t\n"
    ".hidden _ZnwmRKSt9nothrow_t\n"
    ".hidden _ZnamRKSt9nothrow_t\n"
    ".hidden _ZnwmSt11align_val_tRKSt9nothrow_t\n"
    ".hidden _ZnamSt11align_val_tRKSt9nothrow_t\n"
    ".hidden _ZdlPv\n"
    ".hidden _ZdaPv\n"
    ".hidden _ZdlPvm\n"
    ".hidden _ZdaPvm\n"
    ".hidden _ZdlPvSt11align_val_t\n"
    ".hidden _ZdaPvSt11align_val_t\n"
    ".hidden _ZdlPvmSt11align_val_t\n"
    ".hidden _ZdaPvmSt11align_val_t\n"
    ".hidden _ZdlPvRKSt9nothrow_t\n"
    ".hidden _ZdaPvRKSt9nothrow_t\n"
    ".hidden _ZdlPvSt11align_val_tRKSt9nothrow_t\n"
    ".hidden _ZdaPvSt11align_val_tRKSt9nothrow_t\n");

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, std::align_val_t alignment) { return allocate_aligned(size, alignment); }
void* operator new[](std::size_t size, std::align_val_t alignment) { return allocate_aligned(size, alignment); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return try_allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return try_allocate(size); }
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return try_allocate_aligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return try_allocate_aligned(size, alignment);
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::align_val_t) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete(void* memory, std::align_val_t, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, std::align_val_t, const std::nothrow_t&) noexcept { std::free(memory); }

#endif  // !defined(__SANITIZE_ADDRESS__)
