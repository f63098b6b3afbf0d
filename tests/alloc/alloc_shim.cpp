// SPDX-License-Identifier: MIT
// malloc, calloc, realloc and free of the whole process, forwarded to the next definitions
// (the C runtime's) through dlsym(RTLD_NEXT). dlsym itself may allocate before the real
// functions are known; those requests are served from a small static buffer.
#include "alloc_shim.h"

#include <dlfcn.h>

#include <cstdint>
#include <cstring>
#include <new>

namespace {

using malloc_fn = void *(*)(size_t);
using calloc_fn = void *(*)(size_t, size_t);
using realloc_fn = void *(*)(void *, size_t);
using free_fn = void (*)(void *);

malloc_fn real_malloc;
calloc_fn real_calloc;
realloc_fn real_realloc;
free_fn real_free;
bool resolving;

alignas(16) unsigned char boot[8192];
size_t boot_used;

bool from_boot(const void *p) {
    const auto *b = static_cast<const unsigned char *>(p);
    return b >= boot && b < boot + sizeof boot;
}

void *boot_alloc(size_t n) {
    n = (n + 15) & ~size_t{15};
    if (n > sizeof boot - boot_used) return nullptr;
    void *p = boot + boot_used;
    boot_used += n;
    return p; // static storage: already zero-filled, never reused
}

void resolve() {
    if (real_free != nullptr || resolving) return;
    resolving = true;
    real_malloc = reinterpret_cast<malloc_fn>(dlsym(RTLD_NEXT, "malloc"));
    real_calloc = reinterpret_cast<calloc_fn>(dlsym(RTLD_NEXT, "calloc"));
    real_realloc = reinterpret_cast<realloc_fn>(dlsym(RTLD_NEXT, "realloc"));
    real_free = reinterpret_cast<free_fn>(dlsym(RTLD_NEXT, "free"));
    resolving = false;
}

bool armed;
bool fail_rest;
unsigned long fail_at;
unsigned long event_count;
unsigned long injected_count;
long live_count;

// One allocation event; true when it must fail.
bool must_fail() {
    if (!armed) return false;
    ++event_count;
    if (fail_at != 0 && (event_count == fail_at || (fail_rest && event_count > fail_at))) {
        ++injected_count;
        return true;
    }
    return false;
}

} // namespace

namespace shim {

void arm(unsigned long at, bool rest) noexcept {
    fail_at = at;
    fail_rest = rest;
    event_count = 0;
    injected_count = 0;
    armed = true;
}
void disarm() noexcept {
    armed = false;
}
unsigned long events() noexcept {
    return event_count;
}
unsigned long injected() noexcept {
    return injected_count;
}
long live() noexcept {
    return live_count;
}

} // namespace shim

extern "C" {

void *malloc(size_t n) {
    resolve();
    if (real_malloc == nullptr) return boot_alloc(n);
    if (must_fail()) return nullptr;
    void *p = real_malloc(n);
    if (p != nullptr) ++live_count;
    return p;
}

void *calloc(size_t n, size_t size) {
    resolve();
    if (real_calloc == nullptr) {
        if (size != 0 && n > SIZE_MAX / size) return nullptr;
        return boot_alloc(n * size);
    }
    if (must_fail()) return nullptr;
    void *p = real_calloc(n, size);
    if (p != nullptr) ++live_count;
    return p;
}

void *realloc(void *old, size_t n) {
    resolve();
    if (old != nullptr && from_boot(old)) {
        // Size of a bootstrap block is unknown; it ends at most at the buffer's end.
        void *p = malloc(n);
        if (p != nullptr) {
            const size_t avail =
                static_cast<size_t>(boot + sizeof boot - static_cast<unsigned char *>(old));
            std::memcpy(p, old, n < avail ? n : avail);
        }
        return p;
    }
    if (real_realloc == nullptr) return boot_alloc(n);
    if (must_fail()) return nullptr;
    void *p = real_realloc(old, n);
    if (old == nullptr && p != nullptr) ++live_count;
    if (old != nullptr && p == nullptr && n == 0) --live_count; // freed the block
    return p;
}

void free(void *p) {
    if (p == nullptr || from_boot(p)) return;
    resolve();
    --live_count;
    real_free(p);
}

} // extern "C"

// C++ allocations go through the same counting and failing heap.
void *operator new(size_t n) {
    void *p = malloc(n == 0 ? 1 : n);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void *operator new[](size_t n) {
    return operator new(n);
}
void *operator new(size_t n, const std::nothrow_t &) noexcept {
    return malloc(n == 0 ? 1 : n);
}
void *operator new[](size_t n, const std::nothrow_t &) noexcept {
    return malloc(n == 0 ? 1 : n);
}
void operator delete(void *p) noexcept {
    free(p);
}
void operator delete[](void *p) noexcept {
    free(p);
}
void operator delete(void *p, size_t) noexcept {
    free(p);
}
void operator delete[](void *p, size_t) noexcept {
    free(p);
}
void operator delete(void *p, const std::nothrow_t &) noexcept {
    free(p);
}
void operator delete[](void *p, const std::nothrow_t &) noexcept {
    free(p);
}
