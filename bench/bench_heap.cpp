// SPDX-License-Identifier: MIT
// glibc moves its mmap and trim thresholds after each large free, so a call that runs after
// another pays for pages the other's frees gave back: the call timed second in a pair ran
// on warm pages and the first faulted them in again. Fixed thresholds make each call pay
// for its own memory: below 32 MB it reuses what it freed, above that every block is a
// fresh mapping, for the module and the floors alike.
#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

namespace {

const bool fixed_heap = [] {
#ifdef M_MMAP_THRESHOLD
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
    return true;
}();

} // namespace
