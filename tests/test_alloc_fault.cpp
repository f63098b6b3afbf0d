#include "alloc_fault.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) ||                         \
    __has_feature(memory_sanitizer)
#define NTSRCH_HEAP_OWNED_BY_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define NTSRCH_HEAP_OWNED_BY_SANITIZER 1
#endif

namespace {

std::atomic<bool> armed{false};
std::atomic<std::size_t> fail_at{0};
std::atomic<std::size_t> count{0};
std::atomic<long> live{0};

} // namespace

namespace alloc_fault {

// Sanitizers own the heap functions at build time; valgrind replaces them at run time, so
// probe whether an armed failure really reaches the heap.
bool available() {
#ifdef NTSRCH_HEAP_OWNED_BY_SANITIZER
    return false;
#else
    static const bool works = [] {
        void *(*volatile allocate)(std::size_t) = std::malloc;
        arm(1);
        void *p = allocate(1);
        disarm();
        const bool failed = p == nullptr;
        std::free(p);
        return failed;
    }();
    return works;
#endif
}

void arm(std::size_t n) {
    count = 0;
    live = 0;
    fail_at = n;
    armed = true;
}

void disarm() {
    armed = false;
}
std::size_t attempts() {
    return count;
}
long live_blocks() {
    return live;
}

} // namespace alloc_fault

#ifndef NTSRCH_HEAP_OWNED_BY_SANITIZER
namespace {

// True when this allocation is to fail.
bool next_fails() {
    if (!armed.load(std::memory_order_relaxed)) return false;
    const std::size_t n = count.fetch_add(1, std::memory_order_relaxed) + 1;
    return n == fail_at.load(std::memory_order_relaxed);
}

void note_alloc(void *p) {
    if (p != nullptr && armed.load(std::memory_order_relaxed))
        live.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

// glibc's own entry points; defining malloc and friends here makes every library in the
// process, the module and yyjson included, allocate through the functions below.
extern "C" {
void *__libc_malloc(std::size_t);
void *__libc_calloc(std::size_t, std::size_t);
void *__libc_realloc(void *, std::size_t);
void __libc_free(void *);

__attribute__((visibility("default"))) void *malloc(std::size_t n) noexcept {
    if (next_fails()) return nullptr;
    void *p = __libc_malloc(n);
    note_alloc(p);
    return p;
}

__attribute__((visibility("default"))) void *calloc(std::size_t n, std::size_t size) noexcept {
    if (next_fails()) return nullptr;
    void *p = __libc_calloc(n, size);
    note_alloc(p);
    return p;
}

__attribute__((visibility("default"))) void *realloc(void *old, std::size_t n) noexcept {
    if (next_fails()) return nullptr;
    void *p = __libc_realloc(old, n);
    if (old == nullptr) note_alloc(p);
    return p;
}

__attribute__((visibility("default"))) void free(void *p) noexcept {
    if (p != nullptr && armed.load(std::memory_order_relaxed))
        live.fetch_sub(1, std::memory_order_relaxed);
    __libc_free(p);
}
}
#endif

namespace {

TEST(AllocFault, InjectsIntoTheHeap) {
    if (!alloc_fault::available()) GTEST_SKIP() << "the sanitizer runtime owns the heap";
    // Called through volatile pointers so the compiler cannot elide the pair.
    void *(*volatile allocate)(std::size_t) = std::malloc;
    void (*volatile release)(void *) = std::free;
    alloc_fault::arm(2);
    void *first = allocate(16);
    void *second = allocate(16);
    release(first);
    alloc_fault::disarm();
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(alloc_fault::attempts(), 2u);
    EXPECT_EQ(alloc_fault::live_blocks(), 0);
}

} // namespace
