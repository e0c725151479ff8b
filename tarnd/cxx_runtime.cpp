// The little of the C++ runtime that the daemon uses, so that it links no
// libstdc++ or libgcc_s at run time: many devices carry neither.
//
// The daemon allocates only with the nothrow forms and is built without
// exceptions, so allocation is malloc() and free(), and the library's
// failed checks (a range check that would throw, a precondition checked
// under _GLIBCXX_ASSERTIONS) print one line and end the program, as the
// libstdc++ manual allows for code built with -fno-exceptions. The
// library's own versions would bring its exception and demangling code.
// Linked into the daemon program only; tests and tools keep the library's.
//
// The replacements below cover what the daemon calls today. A later use of
// another throwing helper (an aligned new, a std::vector that can grow, ...)
// pulls the library's functexcept.o in beside them, and the link fails
// loudly on a duplicate symbol: replace that helper here too, or avoid it.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <new>

void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    return std::malloc(size != 0 ? size : 1);
}

void *operator new[](std::size_t size, const std::nothrow_t &) noexcept {
    return std::malloc(size != 0 ? size : 1);
}

// Never used by the daemon; without exceptions a failure can only end it.
void *operator new(std::size_t size) {
    void *p = std::malloc(size != 0 ? size : 1);
    if (p == nullptr)
        std::abort();
    return p;
}

void *operator new[](std::size_t size) {
    return ::operator new(size);
}

void operator delete(void *p) noexcept {
    std::free(p);
}

void operator delete(void *p, std::size_t) noexcept {
    std::free(p);
}

void operator delete[](void *p) noexcept {
    std::free(p);
}

void operator delete[](void *p, std::size_t) noexcept {
    std::free(p);
}

// The library declares both (noreturn); a program built without exceptions
// may define its own, which keeps the library's exception code out.
// NOLINTBEGIN(cert-dcl58-cpp)
namespace std {

void __glibcxx_assert_fail(const char *file,
                           int line,
                           const char *function,
                           const char *condition) noexcept {
    std::fprintf(stderr, "%s:%d: %s: Assertion '%s' failed.\n", file, line, function, condition);
    std::abort();
}

void __throw_out_of_range_fmt(const char *format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    std::abort();
}

}  // namespace std
// NOLINTEND(cert-dcl58-cpp)
